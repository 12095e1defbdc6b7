// The virtual camera's thermal picture answers the commands written to its controls, as a thermal
// core's does: this process loads the camera and reads its frames through mapped buffers, as any
// V4L2 client does, before and after writing contrast and saturation.
#include "VirtualCameraProcess.h"

#include <QtTest>

#include <cmath>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {
qint64 monotonicUs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// One stream of the camera at /dev/videoN through four mapped buffers.
struct Stream
{
    int fd = -1;
    int width = 0, height = 0;
    bool grey = false;
    QVector<QPair<void *, size_t>> maps;

    bool start(int node)
    {
        fd = ::open(qPrintable(QString("/dev/video%1").arg(node)), O_RDWR);
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        v4l2_requestbuffers request{4, V4L2_BUF_TYPE_VIDEO_CAPTURE, V4L2_MEMORY_MMAP, 0, 0, {}};
        if (fd < 0 || ::ioctl(fd, VIDIOC_G_FMT, &format) < 0 || ::ioctl(fd, VIDIOC_REQBUFS, &request) < 0)
            return false;
        width = int(format.fmt.pix.width);
        height = int(format.fmt.pix.height);
        grey = format.fmt.pix.pixelformat == V4L2_PIX_FMT_GREY;
        for (quint32 i = 0; i < request.count; ++i) {
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            buffer.index = i;
            if (::ioctl(fd, VIDIOC_QUERYBUF, &buffer) < 0)
                return false;
            maps.append({::mmap(nullptr, buffer.length, PROT_READ, MAP_SHARED, fd, buffer.m.offset),
                         size_t(buffer.length)});
            if (::ioctl(fd, VIDIOC_QBUF, &buffer) < 0)
                return false;
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        return ::ioctl(fd, VIDIOC_STREAMON, &type) == 0;
    }
    ~Stream()
    {
        for (const auto &map : maps)
            ::munmap(map.first, map.second);
        if (fd >= 0)
            ::close(fd);
    }
    // The first frame captured after timeUs: its bytes (YUYV or GREY) and its capture time.
    QByteArray frameAfter(qint64 timeUs, qint64 *capturedUs = nullptr)
    {
        for (;;) {
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            if (::ioctl(fd, VIDIOC_DQBUF, &buffer) < 0)
                return {};
            const qint64 at = qint64(buffer.timestamp.tv_sec) * 1000000 + buffer.timestamp.tv_usec;
            const QByteArray frame(static_cast<const char *>(maps[int(buffer.index)].first),
                                   int(buffer.bytesused));
            ::ioctl(fd, VIDIOC_QBUF, &buffer);
            if (at > timeUs) {
                if (capturedUs)
                    *capturedUs = at;
                return frame;
            }
        }
    }
    int luma(const QByteArray &frame, int x, int y) const
    {
        return quint8(frame[grey ? y * width + x : 2 * (y * width + x)]);
    }
    // Distance of the pixel's chroma from grey (YUYV only).
    int colourfulness(const QByteArray &frame, int x, int y) const
    {
        const int pair = 2 * (y * width + (x & ~1));
        return std::abs(quint8(frame[pair + 1]) - 128) + std::abs(quint8(frame[pair + 3]) - 128);
    }
    // Mean of f(x, y) over every 4th pixel both ways, the stamp-free rows only.
    template <typename F> double mean(F f) const
    {
        double sum = 0;
        int count = 0;
        for (int y = 8; y < height; y += 4)
            for (int x = 0; x < width; x += 4, ++count)
                sum += f(x, y);
        return sum / count;
    }
};

bool writeControl(int fd, quint32 id, qint32 value, bool extended)
{
    if (!extended) {
        v4l2_control control{id, value};
        return ::ioctl(fd, VIDIOC_S_CTRL, &control) == 0;
    }
    v4l2_ext_control control{};
    control.id = id;
    control.value = value;
    v4l2_ext_controls list{};
    list.which = V4L2_CTRL_WHICH_CUR_VAL;
    list.count = 1;
    list.controls = &control;
    return ::ioctl(fd, VIDIOC_S_EXT_CTRLS, &list) == 0;
}
} // namespace

class VirtualCameraSceneTest : public QObject
{
    Q_OBJECT

    int node = 6;
    bool opened = false; // the camera takes control lines from its first open on

private slots:
    void cleanupTestCase() { VirtualCameraProcess::removeControl(); }

    void commandChangesThePicture_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QByteArray>("size");
        QTest::addColumn<QVector<int>>("contrast"); // written in turn, the same value again included
        QTest::addColumn<int>("saturation");        // then written, unless 0
        QTest::addColumn<bool>("extended");         // through VIDIOC_S_EXT_CTRLS instead of S_CTRL
        QTest::addColumn<QString>("effect");
        QTest::newRow("5: black-hot")
            << QByteArray("YUYV") << QByteArray("640x512") << QVector<int>{5} << 0 << false << "inverted";
        QTest::newRow("5 on a greyscale 256x384 camera")
            << QByteArray("GREY") << QByteArray("256x384") << QVector<int>{5} << 0 << false << "inverted";
        QTest::newRow("5 twice: iron")
            << QByteArray("YUYV") << QByteArray("384x288") << QVector<int>{5, 5} << 0 << false << "coloured";
        QTest::newRow("0: REC mark") << QByteArray("YUYV") << QByteArray("256x192") << QVector<int>{0} << 0
                                     << false << "red mark";
        QTest::newRow("saturation 20: 2.0X")
            << QByteArray("YUYV") << QByteArray("640x512") << QVector<int>{} << 20 << false << "magnified";
        QTest::newRow("4: still for 500 ms")
            << QByteArray("GREY") << QByteArray("640x512") << QVector<int>{4} << 0 << true << "frozen";
    }
    void commandChangesThePicture()
    {
        QFETCH(QByteArray, format);
        QFETCH(QByteArray, size);
        QFETCH(QVector<int>, contrast);
        QFETCH(int, saturation);
        QFETCH(bool, extended);
        QFETCH(QString, effect);
        // A new camera of this kind for every case (a replug comes back as the next node).
        qputenv("TARN_VCAM_FORMAT", format);
        qputenv("TARN_VCAM_SIZE", size);
        if (opened) {
            QVERIFY(VirtualCameraProcess::send("unplug") && VirtualCameraProcess::send("plug"));
            ++node;
        }
        opened = true;
        QTRY_VERIFY(QFileInfo::exists(QString("/dev/video%1").arg(node)));
        Stream stream;
        QVERIFY(stream.start(node));
        const QByteArray before = stream.frameAfter(0);
        for (int value : contrast)
            QVERIFY(writeControl(stream.fd, V4L2_CID_CONTRAST, value, extended));
        if (saturation)
            QVERIFY(writeControl(stream.fd, V4L2_CID_SATURATION, saturation, extended));
        const qint64 writtenUs = monotonicUs();
        qint64 capturedUs = 0;
        const QByteArray after = stream.frameAfter(writtenUs, &capturedUs);
        QVERIFY(!before.isEmpty() && !after.isEmpty());

        const int cx = stream.width / 2, cy = stream.height / 2;
        if (effect == "inverted") {
            // White-hot and black-hot add up to white everywhere (235 + 16 in video range).
            const int white = stream.grey ? 255 : 251;
            QVERIFY(stream.mean([&](int x, int y) {
                return std::abs(stream.luma(before, x, y) + stream.luma(after, x, y) - white);
            }) < 12);
        } else if (effect == "coloured") {
            QCOMPARE(stream.mean([&](int x, int y) { return stream.colourfulness(before, x, y); }), 0.0);
            QVERIFY(stream.mean([&](int x, int y) { return stream.colourfulness(after, x, y); }) > 40);
        } else if (effect == "red mark") {
            const int x = stream.width * 28 / 640, y = x;
            QCOMPARE(stream.colourfulness(before, x, y), 0);
            QVERIFY(quint8(after[2 * (y * stream.width + (x & ~1)) + 3]) > 200); // V of red
        } else if (effect == "magnified") {
            // The picture after is the one before magnified twice about the middle.
            const double toMagnified = stream.mean([&](int x, int y) {
                return std::abs(stream.luma(after, x, y) -
                                stream.luma(before, cx + (x - cx) / 2, cy + (y - cy) / 2));
            });
            const double toSame = stream.mean(
                [&](int x, int y) { return std::abs(stream.luma(after, x, y) - stream.luma(before, x, y)); });
            QVERIFY2(toMagnified < 0.5 * toSame, qPrintable(QString("%1 %2").arg(toMagnified).arg(toSame)));
        } else if (effect == "frozen") {
            // Every frame captured within the freeze is the last one before it; then the picture moves.
            QByteArray frame = after;
            while (capturedUs < writtenUs + 400000) {
                QCOMPARE(frame, after);
                frame = stream.frameAfter(capturedUs, &capturedUs);
            }
            QVERIFY(stream.frameAfter(writtenUs + 600000) != after);
        }
    }
};

int main(int argc, char **argv)
{
    qputenv("TARN_VCAM_FPS", "50");
    VirtualCameraProcess::load(argv, 6);
    QCoreApplication app(argc, argv);
    VirtualCameraSceneTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_vcam_scene.moc"
