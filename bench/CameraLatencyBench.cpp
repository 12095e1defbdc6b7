// tarn-camera-bench [SECONDS]: runs the camera session on the virtual UVC camera (it loads it into
// itself) with no window and prints the time from the camera capturing a frame to the frame provider
// presenting it (p50, p99), the time from the start of the session to the first presented frame (the
// first search tick comes one second after the start, as in the viewer), and the time from a replug
// to the picture being back: a third of the way in the camera is unplugged, five seconds later (once
// the watchdog has closed the session) plugged back, as the next node.
#include "app/AppGlobals.h"
#include "camera/MainControl.h"
#include "media/FFmpegThread.h"
#include "presentation/FameProvider.h"

#include <QAbstractVideoSurface>
#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {
qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The capture time the virtual camera painted into the top rows (TARN_VCAM_STAMP): 64 blocks of 4
// pixels, white for 1, most significant bit first.
qint64 stampOf(const QImage &image)
{
    if (image.width() < 256 || image.height() < 4)
        return -1;
    quint64 stamp = 0;
    for (int bit = 0; bit < 64; ++bit)
        stamp = (stamp << 1) | (qGray(image.pixel(bit * 4 + 2, 2)) > 128 ? 1 : 0);
    return qint64(stamp);
}

bool sendToCamera(const char *command)
{
    const int fd = ::open(qgetenv("TARN_VCAM_CONTROL").constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const bool sent = fd >= 0 && ::write(fd, command, std::strlen(command)) == ssize_t(std::strlen(command));
    if (fd >= 0)
        ::close(fd);
    return sent;
}

// Notes, for every presented frame, how long ago the camera captured it.
class LatencySurface : public QAbstractVideoSurface
{
public:
    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType) const override
    {
        return {QVideoFrame::Format_RGB32};
    }

    bool present(const QVideoFrame &frame) override
    {
        const qint64 now = steadyNs();
        if (firstPresentNs < 0)
            firstPresentNs = now;
        QVideoFrame copy(frame);
        if (!copy.map(QAbstractVideoBuffer::ReadOnly))
            return false;
        const QImage image(copy.bits(), copy.width(), copy.height(), copy.bytesPerLine(),
                           QImage::Format_RGB32);
        const qint64 captured = stampOf(image);
        copy.unmap();
        if (captured > 0 && captured <= now && now - captured < 10000000000)
            latenciesUs.push_back((now - captured) / 1000.0);
        if (plugNs > 0 && backNs < 0)
            backNs = now;
        return true;
    }

    std::vector<double> latenciesUs;
    qint64 firstPresentNs = -1;
    qint64 plugNs = -1;
    qint64 backNs = -1;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(p / 100.0 * (values.size() - 1) + 0.5));
    return values[at];
}

void quietHandler(QtMsgType, const QMessageLogContext &, const QString &) {}
} // namespace

int main(int argc, char *argv[])
{
    // The virtual camera, stamping its capture times, loaded into this very program.
    if (!qEnvironmentVariable("LD_PRELOAD").contains(QStringLiteral(TARN_VCAM_LIBRARY))) {
        qputenv("LD_PRELOAD", TARN_VCAM_LIBRARY);
        qputenv("TARN_VCAM_STAMP", "1");
        qputenv("TARN_VCAM_CONTROL", "/tmp/tarn-camera-bench-" + QByteArray::number(::getpid()));
        ::execv("/proc/self/exe", argv);
        return 1;
    }
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const int seconds = std::max(10, argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 12);
    qInstallMessageHandler(quietHandler);

    LatencySurface surface;
    frameProvider->setVideoSurface(&surface);

    auto control = std::make_unique<MainControl>();
    const qint64 sessionStartNs = steadyNs();
    QMetaObject::invokeMethod(control.get(), "slotStartUVCConnect", Qt::DirectConnection);
    QTimer::singleShot(seconds * 1000 / 3, &app, [] { sendToCamera("unplug\n"); });
    QTimer::singleShot(seconds * 1000 / 3 + 5000, &app, [&surface] {
        surface.plugNs = steadyNs();
        sendToCamera("plug\n");
    });
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    ::unlink(qgetenv("TARN_VCAM_CONTROL").constData());
    QMetaObject::invokeMethod(control.get(), "slotEndUVCConnect", Qt::DirectConnection);
    control.reset();
    frameProvider->setVideoSurface(nullptr);

    out << "frames presented " << surface.latenciesUs.size() << " in " << seconds << " s\n";
    out << "capture-to-present p50 " << QString::number(percentile(surface.latenciesUs, 50) / 1000.0, 'f', 2)
        << " ms\n";
    out << "capture-to-present p99 " << QString::number(percentile(surface.latenciesUs, 99) / 1000.0, 'f', 2)
        << " ms\n";
    if (surface.firstPresentNs > 0)
        out << "session start to first frame "
            << QString::number((surface.firstPresentNs - sessionStartNs) / 1e6, 'f', 1) << " ms\n";
    else
        out << "session start to first frame: no frame\n";
    if (surface.backNs > 0)
        out << "replug to picture back " << QString::number((surface.backNs - surface.plugNs) / 1e6, 'f', 1)
            << " ms\n";
    else
        out << "replug to picture back: no picture\n";
    return surface.latenciesUs.empty() ? 1 : 0;
}
