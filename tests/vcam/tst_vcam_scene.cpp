// The virtual camera's thermal picture answers the commands written to its controls, as a thermal
// core's does: this process loads the camera and reads its frames through mapped buffers, as any
// V4L2 client does. A flat-field correction (contrast 4) holds the scene still for half a second;
// within it a frame changes only by what a command draws.
#include "VirtualCameraProcess.h"

#include <QtTest>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {
constexpr int kNode = 80; // each camera test has nodes of its own: the camera's state is per machine
constexpr qint64 freezeUs = 500000;

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
    QVector<QPair<void *, size_t>> maps;
    qint64 capturedUs = 0; // of the last frame taken, on the camera's clock
    quint32 flags = 0;     // of the last frame taken

    bool start(int node)
    {
        fd = ::open(qPrintable(QString("/dev/video%1").arg(node)), O_RDWR);
        v4l2_requestbuffers request{4, V4L2_BUF_TYPE_VIDEO_CAPTURE, V4L2_MEMORY_MMAP, 0, 0, {}};
        if (fd < 0 || ::ioctl(fd, VIDIOC_REQBUFS, &request) < 0)
            return false;
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
    // The first frame captured after timeUs.
    QByteArray frameAfter(qint64 timeUs)
    {
        for (;;) {
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            if (::ioctl(fd, VIDIOC_DQBUF, &buffer) < 0)
                return {};
            capturedUs = qint64(buffer.timestamp.tv_sec) * 1000000 + buffer.timestamp.tv_usec;
            flags = buffer.flags;
            const QByteArray frame(static_cast<const char *>(maps[int(buffer.index)].first),
                                   int(buffer.bytesused));
            ::ioctl(fd, VIDIOC_QBUF, &buffer);
            if (capturedUs > timeUs)
                return frame;
        }
    }
    // Through VIDIOC_S_EXT_CTRLS, as v4l2-ctl writes; the viewer's VIDIOC_S_CTRL shows its effect in the
    // viewer's end-to-end test.
    bool write(quint32 id, qint32 value) const
    {
        v4l2_ext_control item{id, 0, {0}, {value}};
        v4l2_ext_controls list{{V4L2_CTRL_WHICH_CUR_VAL}, 1, 0, 0, {0}, &item};
        return ::ioctl(fd, VIDIOC_S_EXT_CTRLS, &list) == 0;
    }
};
} // namespace

class VirtualCameraSceneTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The camera listens for control lines from the first open of its node.
        QVERIFY(VirtualCameraProcess::listen(kNode));
    }
    void cleanup()
    {
        QVERIFY(VirtualCameraProcess::command("warmup 0"));
        QVERIFY(VirtualCameraProcess::command("control-ok"));
    }

    // A fault set through the control channel shows in what the next stream gets.
    void faultShowsInTheStream_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("startErrno");        // of STREAMON
        QTest::addColumn<int>("writeErrno");        // of a control write
        QTest::addColumn<QVector<bool>>("damaged"); // the first frames: flagged V4L2_BUF_FLAG_ERROR or short
        QTest::addColumn<int>("firstFrameMs");      // at least, after STREAMON
        QTest::newRow("error-frames 2")
            << QByteArray("error-frames 2") << 0 << 0 << QVector<bool>{1, 1, 0} << 0;
        QTest::newRow("short-frames 1") << QByteArray("short-frames 1") << 0 << 0 << QVector<bool>{1, 0} << 0;
        QTest::newRow("enospc") << QByteArray("enospc") << ENOSPC << 0 << QVector<bool>{0} << 0;
        QTest::newRow("control-fail EPIPE")
            << QByteArray("control-fail EPIPE") << 0 << EPIPE << QVector<bool>{0} << 0;
        QTest::newRow("warmup 300") << QByteArray("warmup 300") << 0 << 0 << QVector<bool>{0} << 300;
    }
    void faultShowsInTheStream()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, startErrno);
        QFETCH(int, writeErrno);
        QFETCH(QVector<bool>, damaged);
        QFETCH(int, firstFrameMs);
        QVERIFY(VirtualCameraProcess::command(line));
        if (startErrno) {
            Stream refused;
            QVERIFY(!refused.start(kNode));
            QCOMPARE(errno, startErrno);
        }
        Stream stream;
        const qint64 startUs = monotonicUs();
        QVERIFY(stream.start(kNode));
        QCOMPARE(stream.write(V4L2_CID_CONTRAST, 1) ? 0 : errno, writeErrno);
        for (int i = 0; i < damaged.size(); ++i) {
            const QByteArray frame = stream.frameAfter(0);
            if (i == 0)
                QVERIFY(stream.capturedUs - startUs >= firstFrameMs * 1000);
            const bool flagged = stream.flags & V4L2_BUF_FLAG_ERROR;
            QCOMPARE(flagged || frame.size() < 640 * 512 * 2, bool(damaged[i]));
        }
    }

    // Each value is written in turn (the same again included: every write is one command) while the
    // scene holds still; the frame after it differs from the frame before it when the value is visible.
    // Without a visible command every frame up to the freeze's end is the same; then the picture moves.
    void commandChangesThePicture_data()
    {
        QTest::addColumn<quint32>("control");
        QTest::addColumn<QVector<int>>("values");
        QTest::addColumn<bool>("visible");
        const quint32 contrast = V4L2_CID_CONTRAST;
        QTest::newRow("5 twice: the next palette, the one after") << contrast << QVector<int>{5, 5} << true;
        QTest::newRow("0 twice: REC mark on, off") << contrast << QVector<int>{0, 0} << true;
        QTest::newRow("2 twice: tracking box on, off") << contrast << QVector<int>{2, 2} << true;
        QTest::newRow("saturation 20, 40, 10: zoom 2.0X, 4.0X, 1.0X")
            << quint32(V4L2_CID_SATURATION) << QVector<int>{20, 40, 10} << true;
        QTest::newRow("1, 3: nothing") << contrast << QVector<int>{1, 3} << false;
    }
    void commandChangesThePicture()
    {
        QFETCH(quint32, control);
        QFETCH(QVector<int>, values);
        QFETCH(bool, visible);
        Stream stream;
        QVERIFY(stream.start(kNode));
        const qint64 frozenUs = monotonicUs();
        QVERIFY(stream.write(V4L2_CID_CONTRAST, 4));
        QByteArray before = stream.frameAfter(monotonicUs());
        for (int value : values) {
            QVERIFY(stream.write(control, value));
            const QByteArray after = stream.frameAfter(monotonicUs());
            QVERIFY(!before.isEmpty() && !after.isEmpty());
            QVERIFY2(stream.capturedUs < frozenUs + freezeUs, "captured after the scene moved on again");
            QCOMPARE(after != before, visible);
            before = after;
        }
        for (QByteArray frame = before; !visible && stream.capturedUs < frozenUs + freezeUs - 100000;
             frame = stream.frameAfter(stream.capturedUs))
            QCOMPARE(frame, before);
        QVERIFY(stream.frameAfter(frozenUs + freezeUs + 100000) != before);
    }
};

int main(int argc, char **argv)
{
    qputenv("TARN_VCAM_FPS", "50");
    VirtualCameraProcess::load(argv, kNode);
    QCoreApplication app(argc, argv);
    VirtualCameraSceneTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_vcam_scene.moc"
