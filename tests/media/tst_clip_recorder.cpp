// The clip recorder on real parts: the player on the virtual camera loaded into this process (a node of
// its own, 90 and up) and on files the ffmpeg command line makes, each clip read back with ffprobe and
// decoded whole with ffmpeg.
#include "PlayerProbe.h"
#include "VirtualCameraProcess.h"

#include "media/ClipRecorder.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <deque>

namespace {
QString output(const QString &program, const QStringList &arguments, bool errors = false)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(errors ? process.readAllStandardError() : process.readAllStandardOutput())
        .trimmed();
}

// ffprobe's value of one entry of the video stream ("stream=codec_name", "format=duration", ...).
QString probe(const QString &file, const QString &entry)
{
    return output("ffprobe", {"-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
                              entry, "-of", "default=nw=1:nk=1", file});
}

// What decoding the whole file says; nothing for a clean file.
QString decodeErrors(const QString &file)
{
    return output("ffmpeg", {"-hide_banner", "-v", "error", "-i", file, "-f", "null", "-"}, true);
}

// Frame `index` of a file as ffmpeg itself turns it into RGB.
QImage decodedFrame(const QString &file, int index)
{
    return QImage::fromData(
               QByteArray::fromBase64(
                   output("sh", {"-c", QString("ffmpeg -v error -i '%1' -vf 'select=gte(n\\,%2)' "
                                               "-frames:v 1 -c:v png -f image2pipe - | base64 -w0")
                                           .arg(file)
                                           .arg(index)})
                       .toLatin1()),
               "PNG")
        .convertToFormat(QImage::Format_RGB32);
}

// The largest difference of one colour channel between the mean colours of two pictures over a grid of
// cells: small for the same picture whatever its conversions, large for swapped chroma or a picture
// read in the wrong format.
int cellDifference(const QImage &a, const QImage &b, int grid = 8)
{
    if (a.size() != b.size())
        return 256;
    int worst = 0;
    for (int cy = 0; cy < grid; ++cy) {
        for (int cx = 0; cx < grid; ++cx) {
            qint64 sum[2][3] = {};
            const QRect cell(cx * a.width() / grid, cy * a.height() / grid, a.width() / grid,
                             a.height() / grid);
            for (int y = cell.top(); y <= cell.bottom(); ++y) {
                for (int x = cell.left(); x <= cell.right(); ++x) {
                    const QRgb pa = a.pixel(x, y), pb = b.pixel(x, y);
                    sum[0][0] += qRed(pa), sum[0][1] += qGreen(pa), sum[0][2] += qBlue(pa);
                    sum[1][0] += qRed(pb), sum[1][1] += qGreen(pb), sum[1][2] += qBlue(pb);
                }
            }
            const qint64 n = qint64(cell.width()) * cell.height();
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, int(std::abs(sum[0][c] - sum[1][c]) / n));
        }
    }
    return worst;
}

// How far a picture is from grey: the largest |R - B| or |G - B| of any pixel on a coarse grid.
int colourfulness(const QImage &image)
{
    int most = 0;
    for (int y = 0; y < image.height(); y += 8)
        for (int x = 0; x < image.width(); x += 8) {
            const QRgb p = image.pixel(x, y);
            most = std::max({most, std::abs(qRed(p) - qBlue(p)), std::abs(qGreen(p) - qBlue(p))});
        }
    return most;
}

// The top-level boxes of an MP4 file: type and offset.
QList<QPair<QByteArray, qint64>> boxes(const QString &file)
{
    QList<QPair<QByteArray, qint64>> found;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return found;
    for (qint64 at = 0; at + 8 <= f.size();) {
        f.seek(at);
        const QByteArray head = f.read(16);
        qint64 size = qFromBigEndian<quint32>(head.constData());
        if (size == 1 && head.size() == 16)
            size = qint64(qFromBigEndian<quint64>(head.constData() + 8));
        if (size < 8)
            break;
        found << qMakePair(head.mid(4, 4), at);
        at += size;
    }
    return found;
}

// A clip recorder whose signals the test reads, and the clip's file.
struct Clip : QObject
{
    ClipRecorder recorder;
    QString file;
    QList<qint64> finished; // frames, ms of the one finished signal
    QList<int> errors;
    QStringList reasons;
    Clip()
    {
        connect(&recorder, &ClipRecorder::finished, this,
                [this](const QString &name, qint64 frames, qint64 ms) {
                    QCOMPARE(name, file);
                    finished = {frames, ms};
                });
        connect(&recorder, &ClipRecorder::failed, this, [this](int error, const QString &reason) {
            errors << error;
            reasons << reason;
        });
    }
    bool waitFinished()
    {
        return QTest::qWaitFor([&] { return !finished.isEmpty(); }, 15000);
    }
};

// The player with the last pictures it handed out, taken on the player thread as each leaves.
struct Player
{
    PlayerProbe player;
    QMutex mutex;
    std::deque<QImage> recent;
    std::atomic<int> images{0};
    std::atomic<bool> ended{false};
    FrameTap *tap;
    explicit Player(FrameTap *tap) : tap(tap)
    {
        QObject::connect(
            &player, &FFmpegThread::receiveImage, &player,
            [this](const QImage &image) {
                QMutexLocker lock(&mutex);
                recent.push_back(image.copy());
                if (recent.size() > 100)
                    recent.pop_front();
                ++images;
            },
            Qt::DirectConnection);
        QObject::connect(
            &player, &FFmpegThread::receivePlayFinsh, &player, [this] { ended = true; },
            Qt::DirectConnection);
        if (tap)
            player.addFrameTap(tap);
    }
    ~Player()
    {
        // The player thread ends first: it writes into what follows.
        player.stop();
        player.wait();
        player.removeFrameTap(tap);
    }
    void start(const QString &url)
    {
        player.setUrl(url);
        player.play();
        player.start();
    }
    bool waitForImages(int count)
    {
        const int target = images + count;
        return QTest::qWaitFor([&] { return images >= target; }, 20000);
    }
    // The last 100 pictures (4 s at 25 fps).
    std::vector<QImage> snapshot()
    {
        QMutexLocker lock(&mutex);
        return {recent.begin(), recent.end()};
    }
    QImage last()
    {
        QMutexLocker lock(&mutex);
        return recent.empty() ? QImage() : recent.back();
    }
};

// The names of this process's threads.
QStringList threadNames()
{
    QStringList names;
    for (const QString &task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + task + "/comm");
        if (comm.open(QIODevice::ReadOnly))
            names << QString::fromUtf8(comm.readAll()).trimmed();
    }
    return names;
}

// The next palette, as the window's palette button asks the camera (contrast 5), steps times.
bool nextPalette(int node, int steps)
{
    const int fd = ::open(qPrintable(QString("/dev/video%1").arg(node)), O_RDWR);
    if (fd < 0)
        return false;
    bool done = true;
    for (int i = 0; i < steps; ++i) {
        v4l2_control control{V4L2_CID_CONTRAST, 5};
        done = done && ::ioctl(fd, VIDIOC_S_CTRL, &control) == 0;
    }
    ::close(fd);
    return done;
}
} // namespace

class ClipRecorderTest : public QObject
{
    Q_OBJECT

    // Nodes of their own (90 and up, each replug two on): the camera's state is shared by every process
    // on the machine, and the other camera tests run beside this one.
    int node = 90;
    QTemporaryDir work;
    // A finished camera clip of some seconds (the power-loss case cuts it) and its bytes per second
    // (the full-disk case sizes its disk by it).
    QString keptClip;
    qint64 bytesPerSecond = 0;

    bool replug(const QByteArray &format)
    {
        qputenv("TARN_VCAM_FORMAT", format);
        const QString next = QString("/dev/video%1").arg(node += 2);
        return VirtualCameraProcess::send("unplug") && VirtualCameraProcess::send("plug") &&
               QTest::qWaitFor([&] { return QFileInfo::exists(next); }, 5000);
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("tarn.media.interrupt.debug=false");
        // The camera listens for commands from its first open.
        Player first(nullptr);
        first.start("video=UVC Camera|640x512");
        QVERIFY(first.waitForImages(1));
    }

    // A clip of ~2 s of the camera: H.264, the camera's size and rate, the capture span, clean to decode,
    // and the camera's picture in it, colours included (the iron palette: a swap of U and V or a
    // misread format shows).
    void cameraClip_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QByteArray>("inputFormat"); // what the player asks the device for
        QTest::addColumn<int>("palettes");           // palette steps from white-hot: 2 is iron
        QTest::newRow("YUYV, iron") << QByteArray("YUYV") << QByteArray() << 2;
        QTest::newRow("MJPEG, rainbow") << QByteArray("MJPEG") << QByteArray("mjpeg") << 3;
        QTest::newRow("GREY") << QByteArray("GREY") << QByteArray("gray") << 0;
    }
    void cameraClip()
    {
        QFETCH(QByteArray, format);
        QFETCH(QByteArray, inputFormat);
        QFETCH(int, palettes);
        QVERIFY(replug(format));
        Clip clip;
        Player run(&clip.recorder);
        if (!inputFormat.isEmpty())
            run.player.setOption("input_format",
                                 inputFormat.constData()); // the player asks for YUYV otherwise
        run.start("video=UVC Camera|640x512");
        QVERIFY(run.waitForImages(3));
        QVERIFY(nextPalette(node, palettes));
        QVERIFY(run.waitForImages(5)); // the palette is on
        if (palettes > 0)
            QVERIFY2(colourfulness(run.last()) > 60, "the camera's picture is not in colour");

        clip.file = work.filePath("camera-" + format + ".mp4");
        QVERIFY2(clip.recorder.start(clip.file), qPrintable(clip.recorder.errorText()));
        QVERIFY(clip.recorder.isRecording());
        QVERIFY(QTest::qWaitFor([] { return threadNames().contains("tarn-clip"); }, 5000));
        QVERIFY(QTest::qWaitFor([&] { return clip.recorder.elapsedMs() >= 2000; }, 10000));
        clip.recorder.stop();
        const qint64 span = clip.recorder.elapsedMs();
        const std::vector<QImage> pictures = run.snapshot(); // the player's pictures of the clip's time
        QVERIFY(!clip.recorder.isRecording());
        QVERIFY(QTest::qWaitFor([] { return !threadNames().contains("tarn-clip"); }, 5000));
        QVERIFY(clip.waitFinished());
        QVERIFY2(clip.errors.isEmpty(), qPrintable(clip.reasons.join('\n')));

        QCOMPARE(probe(clip.file, "stream=codec_name"), QString("h264"));
        QCOMPARE(probe(clip.file, "stream=width,height"), QString("640\n512"));
        QCOMPARE(probe(clip.file, "stream=r_frame_rate"), QString("25/1"));
        QCOMPARE(probe(clip.file, "stream=nb_read_frames").toLongLong(), clip.finished[0]);
        // Every frame, up to the few a full queue may leave out.
        QVERIFY2(clip.finished[0] + clip.recorder.droppedFrames() >= span / 40 - 1,
                 qPrintable(QString("%1 frames in %2 ms").arg(clip.finished[0]).arg(span)));
        const double duration = probe(clip.file, "format=duration").toDouble() * 1000;
        QVERIFY2(std::abs(duration - (span + 40)) <= 80,
                 qPrintable(QString("%1 ms for a capture span of %2 ms").arg(duration).arg(span)));
        QVERIFY2(std::abs(clip.finished[1] - (span + 40)) <= 80,
                 qPrintable(QString::number(clip.finished[1])));
        QCOMPARE(decodeErrors(clip.file), QString());

        const QImage frame = decodedFrame(clip.file, 10);
        QCOMPARE(frame.size(), QSize(640, 512));
        int difference = 256;
        for (const QImage &picture : pictures)
            difference = std::min(difference, cellDifference(picture, frame));
        QVERIFY2(difference <= 24,
                 qPrintable(QString("no picture of the player within %1 per channel").arg(difference)));
        if (palettes > 0)
            QVERIFY(colourfulness(frame) > 60);

        if (format == "YUYV") {
            keptClip = clip.file;
            bytesPerSecond = QFileInfo(clip.file).size() * 1000 / std::max<qint64>(span, 1);
        }
    }

    // Each pixel format a decoder gives, from a file of SMPTE bars stored in that format: the clip shows
    // the bars in their colours, as ffmpeg shows the file's own first frame.
    void formats_data()
    {
        QTest::addColumn<QString>("encoding"); // ffmpeg output options of the source file
        QTest::addColumn<bool>("colour");
        QTest::newRow("yuyv422") << "-pix_fmt yuyv422 -c:v rawvideo" << true;
        QTest::newRow("gray") << "-pix_fmt gray -c:v rawvideo" << false;
        QTest::newRow("yuv420p") << "-pix_fmt yuv420p -c:v rawvideo" << true;
        QTest::newRow("bgra (RGB32)") << "-pix_fmt bgra -c:v rawvideo" << true;
        QTest::newRow("rgb24") << "-pix_fmt rgb24 -c:v rawvideo" << true;
        QTest::newRow("nv12") << "-pix_fmt nv12 -c:v rawvideo" << true;
        QTest::newRow("yuvj422p (MJPEG)") << "-pix_fmt yuvj422p -c:v mjpeg -q:v 2" << true;
        QTest::newRow("odd size 321x241") << "-s 321x241 -pix_fmt yuyv422 -c:v rawvideo" << true;
    }
    void formats()
    {
        QFETCH(QString, encoding);
        QFETCH(bool, colour);
        QTemporaryDir dir;
        QVERIFY(TestMedia::ffmpeg(dir.path(), "-f lavfi -i smptebars=size=640x512:rate=25:duration=1.2 " +
                                                  encoding + " bars.nut"));
        const QString source = dir.filePath("bars.nut");
        Clip clip;
        clip.file = dir.filePath("clip.mp4");
        QVERIFY(clip.recorder.start(clip.file)); // before the player: the clip starts at the first frame
        Player run(&clip.recorder);
        run.start(source);
        QVERIFY(QTest::qWaitFor([&] { return run.ended.load(); }, 20000));
        clip.recorder.stop();
        QVERIFY(clip.waitFinished());
        // Every frame of the file, or counted as left out (the player may hand out the first ones faster
        // than the encoder, which starts with the first, takes them).
        QCOMPARE(clip.finished[0] + clip.recorder.droppedFrames(), 30);
        QVERIFY(clip.recorder.droppedFrames() <= 3);
        QCOMPARE(probe(clip.file, "stream=r_frame_rate"), QString("25/1"));
        QCOMPARE(decodeErrors(clip.file), QString());

        const QImage expected = decodedFrame(source, 0);
        const QImage got = decodedFrame(clip.file, 0);
        QCOMPARE(got.size(), QSize(expected.width() & ~1, expected.height() & ~1));
        QVERIFY2(
            cellDifference(got, expected.copy(0, 0, got.width(), got.height())) <= 12,
            qPrintable(QString::number(cellDifference(got, expected.copy(0, 0, got.width(), got.height())))));
        if (colour)
            QCOMPARE(TestMedia::smpteBarsMismatch(got, 24), QString());
        else
            QVERIFY(colourfulness(got) <= 4);
    }

    // The camera is unplugged while the clip runs: no frame comes any more, and stop() still ends a
    // clip that plays.
    void unplugged()
    {
        QVERIFY(replug("YUYV"));
        Clip clip;
        Player run(&clip.recorder);
        run.player.setReadTime(60000); // the player waits for the camera; only the clip matters here
        run.start("video=UVC Camera|640x512");
        QVERIFY(run.waitForImages(3));
        clip.file = work.filePath("unplugged.mp4");
        QVERIFY(clip.recorder.start(clip.file));
        QVERIFY(QTest::qWaitFor([&] { return clip.recorder.elapsedMs() >= 1300; }, 10000));
        QVERIFY(VirtualCameraProcess::send("unplug"));
        const auto plugBack = qScopeGuard([&] {
            VirtualCameraProcess::send("plug");
            node += 2;
        });
        // Frames stop coming.
        qint64 elapsed = -1;
        QVERIFY(QTest::qWaitFor(
            [&] {
                const bool still = clip.recorder.elapsedMs() == elapsed;
                elapsed = clip.recorder.elapsedMs();
                return still;
            },
            5000));
        QTest::qWait(500);
        QVERIFY(clip.recorder.isRecording());
        clip.recorder.stop();
        QVERIFY(clip.waitFinished());
        QVERIFY2(clip.errors.isEmpty(), qPrintable(clip.reasons.join('\n')));
        QVERIFY(clip.finished[0] > 25);
        QCOMPARE(probe(clip.file, "stream=nb_read_frames").toLongLong(), clip.finished[0]);
        QCOMPARE(decodeErrors(clip.file), QString());
    }

    // A full disk (a small tmpfs): the clip fails with ENOSPC, stops by itself, and what is on the disk
    // decodes cleanly up to its last whole fragment.
    void fullDisk()
    {
        QTemporaryDir dir;
        // Room for two or three of the fragments (a second each) of this camera.
        const qint64 size =
            std::max<qint64>(64, (bytesPerSecond > 0 ? bytesPerSecond * 5 / 2 : 600000) / 1024);
        const bool mounted = QProcess::execute("mount", {"-t", "tmpfs", "-o", QString("size=%1k").arg(size),
                                                         "tmpfs", dir.path()}) == 0;
        const auto unmount = qScopeGuard([&] {
            if (mounted)
                QProcess::execute("umount", {dir.path()});
        });
        if (!mounted)
            QSKIP("cannot mount a tmpfs here (it takes root)");
        QVERIFY(replug("YUYV"));
        Clip clip;
        Player run(&clip.recorder);
        run.start("video=UVC Camera|640x512");
        QVERIFY(run.waitForImages(3));
        clip.file = dir.filePath("full.mp4");
        QVERIFY(clip.recorder.start(clip.file));
        QVERIFY(QTest::qWaitFor([&] { return !clip.errors.isEmpty(); }, 30000));
        QCOMPARE(clip.errors, QList<int>{AVERROR(ENOSPC)});
        QVERIFY2(clip.reasons[0].startsWith("disk full: ") && clip.reasons[0].contains(clip.file),
                 qPrintable(clip.reasons[0]));
        QVERIFY(!clip.recorder.isRecording());
        QVERIFY(clip.waitFinished());
        clip.recorder.stop(); // a formality now
        QVERIFY2(clip.finished[0] > 0, "not one fragment reached the disk");
        QCOMPARE(probe(clip.file, "stream=nb_read_frames").toLongLong(), clip.finished[0]);
        QCOMPARE(decodeErrors(clip.file), QString());
        // Another clip cannot be written there, but the recorder takes the next start.
        QVERIFY(clip.recorder.start(work.filePath("after-full.mp4")));
        QVERIFY(QTest::qWaitFor([&] { return clip.recorder.elapsedMs() >= 200; }, 10000));
        clip.recorder.stop();
        QCOMPARE(decodeErrors(work.filePath("after-full.mp4")), QString());
    }

    // A power loss: the clip's file cut anywhere after its first fragment still opens and decodes, up to
    // the last fragment that is whole.
    void cutShort_data()
    {
        QTest::addColumn<double>("where"); // between the start of the second fragment (0) and the end (1)
        QTest::addColumn<int>("into");     // bytes after that
        QTest::newRow("where the second fragment starts") << 0.0 << 0;
        QTest::newRow("inside the second fragment's moof box") << 0.0 << 100;
        QTest::newRow("just into the second fragment's data") << 0.0 << 1000;
        QTest::newRow("a third of the way") << 0.33 << 0;
        QTest::newRow("half-way") << 0.5 << 0;
        QTest::newRow("near the end") << 0.97 << 0;
    }
    void cutShort()
    {
        QFETCH(double, where);
        QFETCH(int, into);
        if (keptClip.isEmpty())
            QSKIP("needs the clip of cameraClip");
        QList<qint64> moofs;
        for (const auto &box : boxes(keptClip))
            if (box.first == "moof")
                moofs << box.second;
        QVERIFY2(moofs.size() >= 3, "a clip of two seconds has a fragment a second");
        const qint64 end = QFileInfo(keptClip).size();
        const qint64 cut = moofs[1] + qint64(where * (end - moofs[1])) + into;
        const QString file = work.filePath(QString("cut-%1.mp4").arg(cut));
        QVERIFY(QFile::copy(keptClip, file));
        QVERIFY(QFile::resize(file, cut));
        int whole = 0; // fragments that end before the cut
        for (int i = 1; i < moofs.size(); ++i)
            whole += moofs[i] <= cut;
        if (into > 0 && into < 300)
            QEXPECT_FAIL(
                "",
                "FFmpeg's mov demuxer reads every moof box while it opens a file and refuses one whose "
                "last moof is cut: a power loss inside a fragment's first few hundred bytes",
                Abort);
        // The frames decoded from the cut file are the whole file's, up to the frame the cut damaged.
        const auto frameSums = [](const QString &name) {
            QStringList sums = output("ffmpeg", {"-v", "quiet", "-i", name, "-f", "framemd5", "-"})
                                   .split('\n', Qt::SkipEmptyParts)
                                   .filter(QRegularExpression("^[^#]"));
            for (QString &line : sums)
                line = line.section(',', -1).trimmed();
            return sums;
        };
        const QStringList full = frameSums(keptClip);
        const QStringList cutSums = frameSums(file);
        QVERIFY2(cutSums.size() >= whole * 25,
                 qPrintable(QString("%1 frames, %2 whole fragments").arg(cutSums.size()).arg(whole)));
        QCOMPARE(cutSums.mid(0, whole * 25), full.mid(0, whole * 25));
        for (int i = whole * 25; i + 1 < cutSums.size(); ++i)
            QCOMPARE(cutSums[i], full.value(i));
    }

    // The time line, fed frames straight (as the player thread would) with the capture times of a
    // jittering, a stopping or a too fast camera: the frames land on the 25 fps grid, the times rise,
    // a gap stays, and no frame runs more than one frame ahead of its capture time.
    void timeLine_data()
    {
        QTest::addColumn<QList<int>>("captureMs");
        QTest::addColumn<QList<int>>("fileMs");
        QTest::newRow("steady") << QList<int>{0, 40, 80, 120} << QList<int>{0, 40, 80, 120};
        QTest::newRow("jitter") << QList<int>{0, 43, 78, 121, 158} << QList<int>{0, 40, 80, 120, 160};
        QTest::newRow("early after late")
            << QList<int>{0, 40, 115, 125, 160} << QList<int>{0, 40, 120, 160, 200};
        QTest::newRow("a gap") << QList<int>{0, 40, 200, 240} << QList<int>{0, 40, 200, 240};
        QTest::newRow("time stands still") << QList<int>{0, 40, 40, 40, 80} << QList<int>{0, 40, 80, 120};
        QTest::newRow("time goes back") << QList<int>{0, 40, 20, 80} << QList<int>{0, 40, 80};
        QTest::newRow("30 fps said 25")
            << QList<int>{0, 33, 67, 100, 133, 167, 200, 233} << QList<int>{0, 40, 80, 120, 160, 200, 240};
    }
    void timeLine()
    {
        QFETCH(QList<int>, captureMs);
        QFETCH(QList<int>, fileMs);
        av::FramePtr frame(av_frame_alloc());
        frame->width = 64;
        frame->height = 48;
        frame->format = AV_PIX_FMT_YUV420P;
        QVERIFY(av_frame_get_buffer(frame.get(), 0) >= 0);
        for (int plane = 0; plane < 3; ++plane)
            memset(frame->data[plane], 128, size_t(frame->linesize[plane] * (plane ? 24 : 48)));
        Clip clip;
        clip.file = work.filePath(QString("time-%1.mp4").arg(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(clip.recorder.start(clip.file));
        for (int ms : captureMs) {
            clip.recorder.tapFrame(*frame, {1000000 + ms * 1000LL, AVRational{25, 1}});
            QTest::qWait(30); // the encoder takes each before the next: none is dropped for a full queue
        }
        clip.recorder.stop();
        QVERIFY(clip.waitFinished());
        QList<int> got;
        for (const QString &time : output("ffprobe", {"-v", "error", "-show_entries", "packet=pts_time",
                                                      "-of", "csv=p=0", clip.file})
                                       .split('\n', Qt::SkipEmptyParts))
            got << qRound(time.toDouble() * 1000);
        QCOMPARE(got, fileMs);
        QCOMPARE(clip.recorder.droppedFrames(), qint64(captureMs.size() - fileMs.size()));
        QCOMPARE(decodeErrors(clip.file), QString());
    }

    void startRefused()
    {
        ClipRecorder recorder;
        QVERIFY(!recorder.start(QString()));
        QVERIFY(!recorder.start("/nonexistent-folder/clip.mp4"));
        QVERIFY(recorder.errorText().contains("does not exist"));
        QVERIFY(recorder.start(work.filePath("idle.mp4")));
        QVERIFY(!recorder.start(work.filePath("second.mp4")));
        QVERIFY(recorder.errorText().contains("already"));
        QSignalSpy failed(&recorder, &ClipRecorder::failed);
        QSignalSpy finished(&recorder, &ClipRecorder::finished);
        recorder.stop(); // no frame came; the signal comes from the clip's thread before stop() returns
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed[0][0].toInt(), AVERROR(ENODATA));
        QCOMPARE(finished.size(), 0);
        QVERIFY(!QFileInfo::exists(work.filePath("idle.mp4")));
    }
};

int main(int argc, char **argv)
{
    VirtualCameraProcess::load(argv, 90);
    QCoreApplication app(argc, argv);
    ClipRecorderTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_clip_recorder.moc"
