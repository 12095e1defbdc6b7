// tarn-camera-bench [SECONDS]: runs the camera session on the simulated camera with no window and
// prints the time from the camera writing a frame to the frame provider presenting it (p50, p99), and
// the time from the start of the session to the first presented frame (the first search tick comes
// one second after the start, as in the viewer).
#include "app/AppGlobals.h"
#include "camera/MainControl.h"
#include "camera/sim/SimulatedCamera.h"
#include "media/FFmpegThread.h"
#include "presentation/FameProvider.h"

#include <QAbstractVideoSurface>
#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {
qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Notes, for every presented frame, how long ago the camera wrote it.
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
        const int number = SimulatedCamera::decodeFrameNumber(image);
        copy.unmap();
        const qint64 written = number >= 0 ? SimulatedCamera::instance().frameWrittenAt(number) : -1;
        if (written > 0)
            latenciesUs.push_back((now - written) / 1000.0);
        return true;
    }

    std::vector<double> latenciesUs;
    qint64 firstPresentNs = -1;
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
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10;
    qInstallMessageHandler(quietHandler);

    // Plugged in before the session starts; every frame carries its number so it can be timed.
    SimulatedCamera::instance().setFrameNumbersStamped(true);
    LatencySurface surface;
    frameProvider->setVideoSurface(&surface);

    auto control = std::make_unique<MainControl>();
    const qint64 sessionStartNs = steadyNs();
    QMetaObject::invokeMethod(control.get(), "slotStartUVCConnect", Qt::DirectConnection);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    QMetaObject::invokeMethod(control.get(), "slotEndUVCConnect", Qt::DirectConnection);
    control.reset();
    frameProvider->setVideoSurface(nullptr);

    out << "frames presented " << surface.latenciesUs.size() << " in " << seconds << " s\n";
    out << "write-to-present p50 " << QString::number(percentile(surface.latenciesUs, 50) / 1000.0, 'f', 2)
        << " ms\n";
    out << "write-to-present p99 " << QString::number(percentile(surface.latenciesUs, 99) / 1000.0, 'f', 2)
        << " ms\n";
    if (surface.firstPresentNs > 0)
        out << "session start to first frame "
            << QString::number((surface.firstPresentNs - sessionStartNs) / 1e6, 'f', 1) << " ms\n";
    else
        out << "session start to first frame: no frame\n";
    return surface.latenciesUs.empty() ? 1 : 0;
}
