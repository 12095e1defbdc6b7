// Local files through the whole player: open, decode, convert, deliver, end; and the player's own
// lifecycle around them.
#include "PlayerProbe.h"

#include "LogCapture.h"
#include "TestMedia.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Grey level of frame n of ramp.avi (luma 16 + 6n, limited range) as RGB.
int rampLevel(int frame)
{
    return qBound(0, int(std::lround(frame * 6 * 255.0 / 219.0)), 255);
}
} // namespace

class FilePlaybackTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        const auto make = [this](const QString &args) {
            return TestMedia::ffmpeg(dir.path(), args);
        };
        const char *bars = "-f lavfi -i smptebars=size=320x240:rate=25:duration=";
        QVERIFY(make(QString(bars) + "2 -c:v libx264 -pix_fmt yuv420p -g 25 h264.mp4"));
        QVERIFY(make(QString(bars) + "2 -c:v mjpeg -q:v 2 mjpeg.avi"));
        QVERIFY(make("-f lavfi -i smptebars=size=64x48:rate=25 -frames:v 1 -pix_fmt yuv420p one.y4m"));
        QVERIFY(make("-f lavfi -i smptebars=size=64x48:rate=25 -frames:v 3 -pix_fmt yuv420p three.y4m"));
        QVERIFY(make(QString(bars) + "4 -f lavfi -i sine=duration=4 -c:v libx264 -pix_fmt yuv420p -c:a aac "
                                     "-shortest av.mp4"));
        // Turned 90 degrees clockwise on display: the tag is counter-clockwise.
        QVERIFY(make("-i h264.mp4 -c copy -metadata:s:v:0 rotate=270 rotated.mp4"));
        QVERIFY(make(
            "-f lavfi -i color=c=black:size=64x48:rate=25:duration=1.2 -vf geq=lum='16+6*N':cb=128:cr=128 "
            "-c:v rawvideo -pix_fmt yuv420p ramp.avi"));
        QVERIFY(make("-i ramp.avi -c:v libx264 -bf 3 -crf 8 -pix_fmt yuv420p ramp.mp4"));
        QVERIFY(make("-f lavfi -i sine=frequency=440:duration=1.5 -c:a libmp3lame tone.mp3"));
        QVERIFY(make("-f lavfi -i color=c=red:size=64x64:duration=0.04 -frames:v 1 cover.png"));
        QVERIFY(make(
            "-i tone.mp3 -i cover.png -map 0 -map 1 -c copy -id3v2_version 3 -disposition:v attached_pic "
            "cover.mp3"));
    }

    void playsFileToItsEnd_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("stopFirst");
        QTest::addColumn<int>("turn"); // clockwise, on display
        QTest::newRow("H.264 in MP4") << "h264.mp4" << false << 0;
        QTest::newRow("MJPEG in AVI") << "mjpeg.avi" << false << 0;
        // The camera session stops a player that already ended on its own, then starts it again.
        QTest::newRow("after stop() on an idle player") << "h264.mp4" << true << 0;
        QTest::newRow("rotation tag") << "rotated.mp4" << false << 90;
    }
    void playsFileToItsEnd()
    {
        QFETCH(QString, file);
        QFETCH(bool, stopFirst);
        QFETCH(int, turn);
        PlayerRun run;
        if (stopFirst)
            run.player.stop();
        QVERIFY(run.play(path(file)));
        QVERIFY(run.player.wait(5000));
        QCOMPARE(run.order, QStringList({"start", "finish"}));
        QCOMPARE(run.lengths, QList<qlonglong>{2000});
        // Every frame of the file, the ones the decoder held back at the end included.
        QCOMPARE(run.images().size(), 50);
        for (const QImage &image : {run.images().first(), run.images().last()}) {
            // Turned back, the bars run across the top again.
            const QImage upright = image.transformed(QTransform().rotate(-turn));
            QCOMPARE(upright.size(), QSize(320, 240));
            QCOMPARE(image.format(), QImage::Format_RGB32);
            QCOMPARE(TestMedia::smpteBarsMismatch(upright), QString());
        }
        QVERIFY(!run.player.currentSettings().isNetwork);
    }

    // An MP3 plays its sound, and its cover picture arrives as the one image. (Sound-only files: the
    // audio test.)
    // The formats cameras send, in colour: each pixel of the picture against BT.601 (limited range) worked
    // out from the frame's own bytes. A swap of U and V, or of the channels, moves most pixels far off.
    void cameraFormatsKeepTheirColours_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("YUYV") << "yuyv422";
        QTest::newRow("GREY") << "gray";
    }
    void cameraFormatsKeepTheirColours()
    {
        QFETCH(QString, format);
        constexpr int width = 160, height = 120;
        const QString movie = format + ".nut", raw = format + ".raw";
        QVERIFY(TestMedia::ffmpeg(
            dir.path(), QStringLiteral("-f lavfi -i testsrc2=size=%1x%2:rate=25 -frames:v 1 -pix_fmt %3 "
                                       "-c:v rawvideo %4")
                            .arg(width)
                            .arg(height)
                            .arg(format, movie)));
        QVERIFY(TestMedia::ffmpeg(dir.path(), QStringLiteral("-i %1 -f rawvideo %2").arg(movie, raw)));
        QFile file(path(raw));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const auto *in = reinterpret_cast<const uchar *>(bytes.constData());
        PlayerRun run;
        QVERIFY(run.play(path(movie), 1));
        const QImage image = run.images().first();
        QCOMPARE(image.size(), QSize(width, height));
        int off = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                QColor expected;
                if (format == QLatin1String("gray")) {
                    const int grey = in[y * width + x];
                    expected = QColor(grey, grey, grey);
                } else {
                    const uchar *pair = in + (y * width + x / 2 * 2) * 2; // Y0 U Y1 V
                    const double luma = 1.164 * (pair[x % 2 ? 2 : 0] - 16);
                    const double u = pair[1] - 128, v = pair[3] - 128;
                    const auto clamp = [](double c) {
                        return qBound(0, qRound(c), 255);
                    };
                    expected = QColor(clamp(luma + 1.596 * v), clamp(luma - 0.391 * u - 0.813 * v),
                                      clamp(luma + 2.018 * u));
                }
                if (!TestMedia::near(image.pixel(x, y), expected, 24))
                    ++off;
            }
        }
        // Chroma is shared by two pixels and interpolated across: only edges may be off.
        QVERIFY2(off < width * height / 20, qPrintable(QString::number(off)));
    }

    void mp3CoverArrivesAsAnImage()
    {
        PlayerRun run;
        QVERIFY(run.play(path("cover.mp3")));
        QCOMPARE(run.order, QStringList({"start", "finish"}));
        QCOMPARE(run.images().size(), 1);
        QCOMPARE(run.images().first().size(), QSize(64, 64));
        QVERIFY(TestMedia::near(run.images().first().pixel(32, 32), Qt::red, 10));
    }

    // The ramp's frames, checked after the run ended and released everything: each image kept its own
    // pixels, in display order.
    void deliversRampFramesInOrder_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("repeat");
        QTest::addColumn<int>("count");
        QTest::newRow("interval: every 3rd frame") << "ramp.avi" << 3 << false << 10;
        QTest::newRow("H.264 with B-frames") << "ramp.mp4" << 1 << false << 30;
        QTest::newRow("looping starts over") << "ramp.avi" << 1 << true << 75;
    }
    void deliversRampFramesInOrder()
    {
        QFETCH(QString, file);
        QFETCH(int, interval);
        QFETCH(bool, repeat);
        QFETCH(int, count);
        PlayerRun run;
        run.player.setInterval(interval);
        run.player.setPlayRepeat(repeat);
        QVERIFY(run.play(path(file), repeat ? count : 0));
        QVERIFY(run.player.wait(5000));
        if (!repeat)
            QCOMPARE(run.images().size(), count);
        for (int k = 0; k < count; ++k) {
            const int grey = qGreen(run.images().at(k).pixel(32, 24));
            const int frame = (interval * (k + 1) - 1) % 30;
            QVERIFY2(qAbs(grey - rampLevel(frame)) <= 4,
                     qPrintable(
                         QStringLiteral("image %1 grey %2, frame %3 expected").arg(k).arg(grey).arg(frame)));
        }
    }

    // play() during playback opens the input again. Settings changed during playback leave the open input
    // alone (its images keep their size and content) and act on the next open. The open sets callback back
    // to true.
    void playDuringPlaybackOpensAgainWithTheNewSettings()
    {
        PlayerRun run;
        const int checkTime = 300;
        run.player.setCheckTime(checkTime);
        run.player.setCallback(false);
        run.start(path("av.mp4"));
        // A second of the file, at its own pace: an open time-out counted from the thread start would
        // have run out.
        QVERIFY(run.waitForImages(25));
        run.player.setMultiMode(true, 1920, 1080);
        run.player.setUrl("video=Cam|1920x1080");
        run.player.setUrl(path("av.mp4"));
        const int changedAt = run.images().size();
        QVERIFY(run.waitForImages(changedAt + 10));
        for (const QImage &image : run.images().mid(changedAt)) {
            QCOMPARE(image.size(), QSize(320, 240));
            QCOMPARE(TestMedia::smpteBarsMismatch(image), QString());
        }
        run.player.play();
        QTRY_COMPARE_WITH_TIMEOUT(run.order.count("start"), 2, 10000);
        QVERIFY(run.waitForImages(run.images().size() + 5));
        QCOMPARE(TestMedia::smpteBarsMismatch(run.images().last()), QString());
        run.player.setHardware("cuda");
        run.player.play();
        QVERIFY(run.waitForFinish());
        QCOMPARE(run.order, QStringList({"start", "start", "error", "finish"}));
    }

    // A receiver that stalls holds at most the player's few images; the other frames are dropped and
    // counted instead of piling up behind it.
    void stalledReceiverHoldsAtMostAFewImages()
    {
        LogCapture log;
        PlayerRun run;
        QList<QImage> queued;
        connect(&run.player, &FFmpegThread::receiveImage, this,
                [&](const QImage &image) { queued << image; });
        run.start(path("h264.mp4"));
        // The main thread stalls (no events) until the player has decoded the whole file.
        QDeadlineTimer deadline(20000);
        while (!run.player.isFinished() && !deadline.hasExpired())
            QThread::msleep(5);
        QVERIFY(run.waitForFinish());
        QVERIFY2(queued.size() <= 4, qPrintable(QString::number(queued.size())));
        int dropped = 0;
        for (const QString &line : log.matching("frames dropped, receivers hold every image:"))
            dropped += line.section(' ', -2, -2).toInt();
        QCOMPARE(dropped + queued.size(), 50);
    }

    // A play() that arrives while an open is still inside avformat_open_input opens again afterwards.
    void playDuringOpenIsKept()
    {
        const QString fifo = path("camera.fifo");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        LogCapture log;
        PlayerRun run;
        // Whatever happens, an open left waiting for a writer gets one and fails.
        const auto release = qScopeGuard([&] {
            run.player.stop();
            const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
            QFile::remove(fifo);
        });
        run.start(fifo);
        // Each open waits in open(2) for a writer; the second play() comes while the first one waits.
        int opens = 0;
        for (const char *frames : {"one.y4m", "three.y4m"}) {
            ++opens;
            QVERIFY(QTest::qWaitFor([&] { return log.matching("Ready avformat_open_input").size() == opens; },
                                    5000));
            if (opens == 1)
                run.player.play();
            QFile writer(fifo);
            QVERIFY(writer.open(QIODevice::WriteOnly));
            QFile media(path(frames));
            QVERIFY(media.open(QIODevice::ReadOnly));
            writer.write(media.readAll());
        }
        QVERIFY(run.waitForFinish());
        QCOMPARE(run.order, QStringList({"start", "start", "finish"}));
        QCOMPARE(run.images().size(), 3);
    }

    // With raw frames selected after the open, snap() converts exactly one frame, as snapImage; asked for on
    // the image road, it takes none.
    void snapTakesOneFrameOfTheRawRoad()
    {
        PlayerRun run;
        std::atomic<int> rawFrames{0};
        connect(
            &run.player, &FFmpegThread::receiveFrame, this, [&](AVFrame *) { ++rawFrames; },
            Qt::DirectConnection);
        QSignalSpy snaps(&run.player, &FFmpegThread::snapImage);
        run.player.snap(); // on the image road: nothing to take
        connect(&run.player, &FFmpegThread::receivePlayStart, this, [&] { run.player.setCallback(false); });
        run.start(path("av.mp4"));
        QVERIFY(QTest::qWaitFor([&] { return rawFrames > 0; }, 10000));
        run.player.snap();
        QVERIFY(snaps.wait(5000));
        QVERIFY(QTest::qWaitFor([&] { return rawFrames > 5; }, 10000));
        run.player.stop();
        QVERIFY(run.waitForFinish());
        QCOMPARE(snaps.count(), 1);
        QCOMPARE(TestMedia::smpteBarsMismatch(snaps.first().first().value<QImage>()), QString());
    }
};

QTEST_GUILESS_MAIN(FilePlaybackTest)
#include "tst_media_files.moc"
