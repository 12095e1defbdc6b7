// The clip recorder on the virtual camera loaded into this process (a node of its own, 90 and up) and on
// files the ffmpeg command line makes; each clip is read back with ffprobe and decoded with ffmpeg.
#include "PlayerProbe.h"
#include "VirtualCameraProcess.h"

#include "media/ClipRecorder.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QString output(const QString &program, const QStringList &arguments, bool errors = false)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(errors ? process.readAllStandardError() : process.readAllStandardOutput())
        .trimmed();
}

// ffprobe's values of entries of the video stream ("stream=codec_name", "format=duration", ...).
QString probe(const QString &file, const QString &entries)
{
    return output("ffprobe", {"-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
                              entries, "-of", "default=nw=1:nk=1", file});
}

// The first frame of a file as ffmpeg itself turns it into RGB, in the mean colours of 8x8 cells.
QImage firstFrameCells(const QString &file)
{
    output("ffmpeg", {"-v", "error", "-y", "-i", file, "-frames:v", "1", file + ".png"});
    const QImage frame(file + ".png");
    return frame.copy(0, 0, frame.width() & ~1, frame.height() & ~1)
        .scaled(8, 8, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB888); // 24 bytes a line, no padding
}

// Whether this process (the shell's parent) has the encoder's thread: the names of its threads.
bool clipThreadRuns()
{
    return output("sh", {"-c", "cat /proc/$PPID/t*/*/comm"}).split('\n').contains("tarn-clip");
}

// A recorder tapping a player, the signals it gave and the clip's file.
struct Clip : QObject
{
    ClipRecorder recorder;
    PlayerProbe player; // stopped first: it writes into the recorder
    QString file;
    QList<qint64> finished; // frames, ms
    QList<int> errors;
    Clip()
    {
        connect(&recorder, &ClipRecorder::finished, this,
                [this](const QString &name, qint64 frames, qint64 ms) {
                    if (name == file)
                        finished = {frames, ms};
                });
        connect(&recorder, &ClipRecorder::failed, this, [this](int error) { errors << error; });
        player.addFrameTap(&recorder);
    }
    void play(const QString &url)
    {
        player.setUrl(url);
        player.play();
        player.start();
    }
    bool record(const QString &name)
    {
        finished.clear();
        return recorder.start(file = name);
    }
    // stop(), and the clip finished as a clean file of the frames finished() counted.
    bool stopWhole()
    {
        recorder.stop();
        return QTest::qWaitFor([&] { return !finished.isEmpty(); }, 15000) && finished[0] > 0 &&
               probe(file, "stream=nb_read_frames").toLongLong() == finished[0] &&
               output("ffmpeg", {"-v", "error", "-i", file, "-f", "null", "-"}, true).isEmpty();
    }
};
} // namespace

class ClipRecorderTest : public QObject
{
    Q_OBJECT

    // Nodes of their own (90 and up, each replug two on): other camera tests run beside this one.
    int node = 90;
    QTemporaryDir work;
    QString keptClip; // cameraClip's, which cutShort cuts and whose rate fullDisk sizes its disk by
    qint64 bytesPerSecond = 0;
    const QString camera = "video=UVC Camera|640x512";

private slots:
    // ~2 s of the camera, which is then unplugged: no frame comes any more, and stop() still ends a clip
    // of the camera's codec, size, rate and capture span that decodes clean.
    void cameraClip()
    {
        Clip clip;
        clip.player.setReadTime(60000); // the player waits for the camera; only the clip matters here
        clip.play(camera);
        QVERIFY(!clipThreadRuns());
        QVERIFY2(clip.record(work.filePath("camera.mp4")), qPrintable(clip.recorder.errorText()));
        QTRY_VERIFY(clip.recorder.isRecording() && clipThreadRuns());
        QVERIFY(QTest::qWaitFor([&] { return clip.recorder.elapsedMs() >= 2000; }, 10000));
        QVERIFY(VirtualCameraProcess::send("unplug"));
        const auto plugBack = qScopeGuard([&] {
            const QString next = QString("/dev/video%1").arg(node += 2);
            VirtualCameraProcess::send("plug");
            (void)QTest::qWaitFor([&] { return QFileInfo::exists(next); }, 5000);
        });
        QElapsedTimer still; // since the last frame
        qint64 span = -1;
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (clip.recorder.elapsedMs() != span)
                    span = clip.recorder.elapsedMs(), still.start();
                return still.hasExpired(500);
            },
            10000));
        QVERIFY(clip.recorder.isRecording());
        QVERIFY(clip.stopWhole());
        QTRY_VERIFY(!clip.recorder.isRecording() && !clipThreadRuns());
        QCOMPARE(clip.errors, QList<int>());
        QCOMPARE(probe(clip.file, "stream=codec_name,width,height,r_frame_rate"),
                 QString("h264\n640\n512\n25/1"));
        // Every frame, up to the few a full queue may leave out, over the capture span and a frame.
        QVERIFY2(clip.finished[0] + clip.recorder.droppedFrames() >= span / 40 - 1,
                 qPrintable(QString("%1 frames in %2 ms").arg(clip.finished[0]).arg(span)));
        const double duration = probe(clip.file, "format=duration").toDouble() * 1000;
        QVERIFY2(std::abs(duration - (span + 40)) <= 80 && std::abs(clip.finished[1] - (span + 40)) <= 80,
                 qPrintable(QString("%1, %2 ms for %3").arg(duration).arg(clip.finished[1]).arg(span)));
        keptClip = clip.file;
        bytesPerSecond = QFileInfo(clip.file).size() * 1000 / std::max<qint64>(span, 1);
    }

    // Each pixel format a decoder gives, from a file of SMPTE bars: the clip shows the bars in the colours
    // ffmpeg shows the file's own first frame in (a U/V swap or a wrong range is far off).
    void formats_data()
    {
        QTest::addColumn<QString>("encoding"); // ffmpeg output options of the source file
        QTest::addColumn<QString>("size");     // the clip's
        // clang-format off
        QTest::newRow("yuyv422") << "-pix_fmt yuyv422 -c:v rawvideo" << "640 512";
        QTest::newRow("gray") << "-pix_fmt gray -c:v rawvideo" << "640 512";
        QTest::newRow("nv12") << "-pix_fmt nv12 -c:v rawvideo" << "640 512";
        QTest::newRow("bgra (RGB32)") << "-pix_fmt bgra -c:v rawvideo" << "640 512";
        QTest::newRow("yuvj422p (MJPEG)") << "-pix_fmt yuvj422p -c:v mjpeg -q:v 2" << "640 512";
        QTest::newRow("odd size 321x241") << "-s 321x241 -pix_fmt yuyv422 -c:v rawvideo" << "320 240";
        // clang-format on
    }
    void formats()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, size);
        QVERIFY(TestMedia::ffmpeg(work.path(), "-f lavfi -i smptebars=size=640x512:rate=25:duration=1.2 " +
                                                   encoding + " bars.nut"));
        Clip clip;
        clip.player.setPaceVideo(true); // at the file's rate, as a camera
        QVERIFY(clip.record(work.filePath("bars.mp4")));
        clip.play(work.filePath("bars.nut"));
        QVERIFY(
            QTest::qWaitFor([&] { return clip.recorder.elapsedMs() >= 29 * 40; }, 20000)); // the last frame
        QVERIFY(clip.stopWhole());
        QCOMPARE(probe(clip.file, "stream=width,height,r_frame_rate").replace('\n', ' '), size + " 25/1");
        const QImage expected = firstFrameCells(work.filePath("bars.nut")), got = firstFrameCells(clip.file);
        int worst = 0;
        for (int i = 0; i < 8 * 8 * 3; ++i)
            worst = std::max(worst, std::abs(expected.constBits()[i] - got.constBits()[i]));
        QVERIFY2(worst <= 12, qPrintable(QString::number(worst)));
    }

    // A full disk (a small tmpfs, room for two or three fragments): the clip stops by itself with ENOSPC,
    // cut back to its last whole fragment; the next start works.
    void fullDisk()
    {
        QTemporaryDir dir;
        const qint64 size = std::max<qint64>(64, bytesPerSecond * 5 / 2 / 1024);
        const bool mounted = QProcess::execute("mount", {"-t", "tmpfs", "-o", QString("size=%1k").arg(size),
                                                         "tmpfs", dir.path()}) == 0;
        const auto unmount = qScopeGuard([&] {
            if (mounted)
                QProcess::execute("umount", {dir.path()});
        });
        if (!mounted)
            QSKIP("cannot mount a tmpfs here (it takes root)");
        Clip clip;
        clip.play(camera);
        QVERIFY(clip.record(dir.filePath("full.mp4")));
        QTRY_COMPARE_WITH_TIMEOUT(clip.errors, QList<int>{AVERROR(ENOSPC)}, 30000);
        QVERIFY(!clip.recorder.isRecording());
        QVERIFY(clip.stopWhole());
        QVERIFY(clip.record(work.filePath("after-full.mp4")));
        QVERIFY(QTest::qWaitFor([&] { return clip.recorder.elapsedMs() >= 200; }, 10000));
        QVERIFY(clip.stopWhole());
    }

    // A power loss half-way between the second fragment and the end: the cut clip still decodes, the whole
    // file's frames up to the frame the cut damaged.
    void cutShort()
    {
        QFile kept(keptClip);
        QVERIFY2(kept.open(QIODevice::ReadOnly), "needs the clip of cameraClip");
        QList<qint64> moofs; // where each fragment starts
        for (qint64 at = 0, size = 8; at + 8 <= kept.size() && size >= 8; at += size) {
            kept.seek(at);
            const QByteArray head = kept.read(8);
            size = qFromBigEndian<quint32>(head.constData());
            if (head.endsWith("moof"))
                moofs << at;
        }
        QVERIFY2(moofs.size() >= 2, "a clip of two seconds has a fragment a second");
        const qint64 cut = (moofs[1] + kept.size()) / 2;
        const QString file = work.filePath(QString("cut-%1.mp4").arg(cut));
        QVERIFY(QFile::copy(keptClip, file) && QFile::resize(file, cut));
        const qint64 whole =
            25 * std::count_if(moofs.begin() + 1, moofs.end(), [&](qint64 m) { return m <= cut; });
        const int frames = probe(file, "stream=nb_read_frames").toInt();
        QVERIFY2(frames >= whole, qPrintable(QString("%1 frames of %2").arg(frames).arg(whole)));
        const auto sum = [&](const QString &name) {
            return output("ffmpeg", {"-v", "error", "-i", name, "-frames:v", QString::number(frames - 1),
                                     "-f", "md5", "-"});
        };
        QCOMPARE(sum(file), sum(keptClip));
    }

    // Capture times (a jittering, a stopping or a too fast camera) -> times in the file: on the 25 fps
    // grid, rising, a gap kept, never more than a frame ahead; a frame without a slot is dropped.
    void timeLine_data()
    {
        QTest::addColumn<QList<int>>("captureMs");
        QTest::addColumn<QList<int>>("fileMs");
        // clang-format off
        QTest::newRow("jitter") << QList<int>{0, 43, 78, 121, 158} << QList<int>{0, 40, 80, 120, 160};
        QTest::newRow("early after late") << QList<int>{0, 40, 115, 125, 160} << QList<int>{0, 40, 120, 160, 200};
        QTest::newRow("a gap") << QList<int>{0, 40, 200, 240} << QList<int>{0, 40, 200, 240};
        QTest::newRow("time stands still") << QList<int>{0, 40, 40, 40, 80} << QList<int>{0, 40, 80, 120};
        QTest::newRow("30 fps said 25") << QList<int>{0, 33, 67, 100, 133, 167, 200, 233}
                                        << QList<int>{0, 40, 80, 120, 160, 200, 240};
        // clang-format on
    }
    void timeLine()
    {
        QFETCH(QList<int>, captureMs);
        QFETCH(QList<int>, fileMs);
        QVERIFY(captureMs.size() <= ClipRecorder::kQueueFrames); // none is dropped for a full queue
        av::FramePtr frame(av_frame_alloc());
        frame->width = 64, frame->height = 48, frame->format = AV_PIX_FMT_GRAY8;
        QVERIFY(av_frame_get_buffer(frame.get(), 0) >= 0);
        memset(frame->data[0], 128, size_t(frame->linesize[0] * 48));
        Clip clip;
        QVERIFY(clip.record(work.filePath("time.mp4")));
        for (int ms : captureMs)
            clip.recorder.tapFrame(*frame, {1000000 + ms * 1000LL, AVRational{25, 1}});
        QVERIFY(clip.stopWhole());
        QList<int> got;
        for (const QString &time : probe(clip.file, "packet=pts_time").split('\n'))
            got << qRound(time.toDouble() * 1000);
        QCOMPARE(got, fileMs);
        QCOMPARE(clip.recorder.droppedFrames(), qint64(captureMs.size() - fileMs.size()));
    }

    void startRefused()
    {
        ClipRecorder recorder;
        QVERIFY(!recorder.start(QString()) && !recorder.start("/nonexistent-folder/clip.mp4"));
        QVERIFY(recorder.start(work.filePath("idle.mp4")));
        QVERIFY(!recorder.start(work.filePath("second.mp4")));
        QSignalSpy failed(&recorder, &ClipRecorder::failed), finished(&recorder, &ClipRecorder::finished);
        recorder.stop(); // no frame came; the signal comes from the clip's thread before stop() returns
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed[0][0].toInt(), AVERROR(ENODATA));
        QCOMPARE(finished.size(), 0);
        QVERIFY(!QFileInfo::exists(work.filePath("idle.mp4")) &&
                !QFileInfo::exists(work.filePath("second.mp4")));
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
