// Local files through the whole player: open, decode, convert, deliver, end; and the player's own
// lifecycle around them.
#include "PlayerProbe.h"

#include "LogCapture.h"
#include "TestMedia.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
// Grey level of frame n of ramp.avi (luma 16 + 6n, limited range) as RGB.
int rampLevel(int frame)
{
    return qBound(0, int(std::lround(frame * 6 * 255.0 / 219.0)), 255);
}

int grey(const QImage &image)
{
    return qGreen(image.pixel(image.width() / 2, image.height() / 2));
}
} // namespace

class FilePlaybackTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }
    static QStringList bars(int seconds, const QString &size = QStringLiteral("320x240"))
    {
        return {"-f", "lavfi", "-i",
                QStringLiteral("smptebars=size=%1:rate=25:duration=%2").arg(size).arg(seconds)};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        using TestMedia::ffmpeg;
        QVERIFY(ffmpeg(bars(2) +
                       QStringList{"-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "25", path("h264.mp4")}));
        QVERIFY(ffmpeg(bars(2) + QStringList{"-c:v", "mjpeg", "-q:v", "2", path("mjpeg.avi")}));
        QVERIFY(ffmpeg(bars(2) + QStringList{"-c:v", "rawvideo", "-pix_fmt", "yuv420p", path("raw.avi")}));
        QVERIFY(ffmpeg(bars(2) + QStringList{"-c:v", "libx264", "-pix_fmt", "yuv420p", path("plain.mp4")}));
        // Turned 90 degrees clockwise on display: the tag is counter-clockwise.
        QVERIFY(ffmpeg(
            {"-i", path("plain.mp4"), "-c", "copy", "-metadata:s:v:0", "rotate=270", path("rotated.mp4")}));
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "color=c=black:size=64x48:rate=25:duration=1.2", "-vf",
                        "geq=lum='16+6*N':cb=128:cr=128", "-c:v", "rawvideo", "-pix_fmt", "yuv420p",
                        path("ramp.avi")}));
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=1.5", "-c:a", "libmp3lame",
                        path("tone.mp3")}));
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "color=c=red:size=64x64:duration=0.04", "-frames:v", "1",
                        path("cover.png")}));
        QVERIFY(ffmpeg({"-i", path("tone.mp3"), "-i", path("cover.png"), "-map", "0", "-map", "1", "-c",
                        "copy", "-id3v2_version", "3", "-disposition:v", "attached_pic", path("cover.mp3")}));
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "smptebars=size=320x240:rate=25:duration=4", "-f", "lavfi", "-i",
                        "sine=duration=4", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac",
                        "-shortest", path("av.mp4")}));
    }

    void playsFileToItsEnd_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QSize>("size");
        QTest::newRow("H.264 in MP4") << "h264.mp4" << 50 << QSize(320, 240);
        QTest::newRow("MJPEG in AVI") << "mjpeg.avi" << 50 << QSize(320, 240);
        QTest::newRow("raw video in AVI") << "raw.avi" << 50 << QSize(320, 240);
    }
    void playsFileToItsEnd()
    {
        QFETCH(QString, file);
        QFETCH(int, frames);
        QFETCH(QSize, size);
        LogCapture log;
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(path(file));
        player.play();
        player.start();
        QVERIFY(watch.waitForFinish());
        QVERIFY(player.wait(5000));
        QCOMPARE(watch.started.count(), 1);
        QCOMPARE(watch.errors.count(), 0);
        QCOMPARE(watch.finished.count(), 1);
        QCOMPARE(watch.lengths.count(), 1);
        QCOMPARE(watch.lengths.at(0).at(0).toLongLong(), 2000);
        // Every frame of the file, the ones the decoder held back at the end included.
        QCOMPARE(watch.images.size(), frames);
        for (const QImage &image : {watch.images.first(), watch.images.last()}) {
            QCOMPARE(image.size(), size);
            QCOMPARE(image.format(), QImage::Format_RGB32);
            QString why;
            QVERIFY2(TestMedia::showsSmpteBars(image, 40, &why), qPrintable(why));
        }
        QVERIFY(!player.isNetwork);
        QVERIFY(log.contains(QStringLiteral("stop ffmpeg thread")));
        QVERIFY(
            log.inOrder({"Ready avformat_open_input", "Finish avformat_open_input", "Video Info -> Index: 0",
                         "File Info -> Format:", "Ini Finish -> Time-consuming:"}));
    }

    void rotatedFileTurnsImagesClockwise()
    {
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(path("rotated.mp4"));
        player.play();
        player.start();
        QVERIFY(watch.waitForFinish());
        QVERIFY(!watch.images.isEmpty());
        const QImage image = watch.images.first();
        QCOMPARE(image.size(), QSize(240, 320));
        // Turned clockwise, the bars run top to bottom at the right-hand side (their old top).
        const QVector<QColor> bars = TestMedia::smpteBars();
        for (int i = 0; i < bars.size(); ++i) {
            const QRgb pixel = image.pixel(image.width() - 1 - 240 / 4, int((i + 0.5) * 320 / bars.size()));
            QVERIFY2(TestMedia::near(pixel, bars.at(i), 40), qPrintable(QStringLiteral("bar %1").arg(i)));
        }
    }

    void mp3WithoutPictureStillPlays()
    {
        LogCapture log;
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(path("tone.mp3"));
        player.play();
        player.start();
        QVERIFY(watch.waitForFinish());
        QCOMPARE(watch.started.count(), 1);
        QCOMPARE(watch.errors.count(), 0);
        QVERIFY(watch.images.isEmpty());
        QVERIFY(log.contains(QStringLiteral("\"Ch1\" find video stream index error")));
        QVERIFY(log.contains(QStringLiteral("音频信息 -> 索引: 0  解码: mp3float")));
        QCOMPARE(player.formatName, QStringLiteral("mp3"));
    }

    void mp3CoverArrivesAsImage()
    {
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(path("cover.mp3"));
        player.play();
        player.start();
        QVERIFY(watch.waitForFinish());
        QCOMPARE(watch.errors.count(), 0);
        QCOMPARE(watch.images.size(), 1);
        const QImage cover = watch.images.first();
        QCOMPARE(cover.size(), QSize(64, 64));
        QVERIFY(TestMedia::near(cover.pixel(32, 32), Qt::red, 10));
    }

    void intervalDeliversEveryNthFrame()
    {
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setInterval(3);
        player.setUrl(path("ramp.avi"));
        player.play();
        player.start();
        QVERIFY(watch.waitForFinish());
        QVERIFY(player.wait(5000));
        // 30 frames: the 3rd, 6th ... 30th. Checked after the run ended and released everything: each
        // image kept its own pixels.
        QCOMPARE(watch.images.size(), 10);
        for (int k = 0; k < watch.images.size(); ++k)
            QVERIFY2(qAbs(grey(watch.images.at(k)) - rampLevel(3 * k + 2)) <= 3,
                     qPrintable(QStringLiteral("image %1 grey %2").arg(k).arg(grey(watch.images.at(k)))));
    }

    void h264WithBFramesArrivesInDisplayOrder()
    {
        QVERIFY(TestMedia::ffmpeg({"-i", path("ramp.avi"), "-c:v", "libx264", "-bf", "3", "-crf", "8",
                                   "-pix_fmt", "yuv420p", path("ramp.mp4")}));
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(path("ramp.mp4"));
        player.play();
        player.start();
        QVERIFY(watch.waitForFinish());
        QCOMPARE(watch.images.size(), 30);
        for (int k = 0; k < watch.images.size(); ++k)
            QVERIFY2(qAbs(grey(watch.images.at(k)) - rampLevel(k)) <= 4,
                     qPrintable(QStringLiteral("image %1 grey %2").arg(k).arg(grey(watch.images.at(k)))));
    }

    void loopingFileStartsOver()
    {
        LogCapture log;
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setPlayRepeat(true);
        player.setUrl(path("ramp.avi"));
        player.play();
        player.start();
        QVERIFY(watch.waitForImages(75));
        player.stop();
        QVERIFY(watch.waitForFinish());
        // Frame after frame in three passes, each from the first frame again.
        for (int k = 0; k < 75; ++k)
            QVERIFY2(qAbs(grey(watch.images.at(k)) - rampLevel(k % 30)) <= 3, qPrintable(QString::number(k)));
        const int repeats = log.matching(QStringLiteral("repeat")).size();
        QVERIFY2(repeats >= 2 && repeats <= 4, qPrintable(QString::number(repeats)));
    }

    void failingOpenEmitsErrorThenFinish_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("hardware");
        QTest::addColumn<QString>("line");
        QTest::newRow("missing file") << "missing.mp4"
                                      << "none"
                                      << "open input error";
        QTest::newRow("cuda") << "h264.mp4"
                              << "cuda"
                              << "cannot support hardware";
        QTest::newRow("made-up hardware") << "h264.mp4"
                                          << "turbodecoder"
                                          << "cannot support hardware";
    }
    void failingOpenEmitsErrorThenFinish()
    {
        QFETCH(QString, file);
        QFETCH(QString, hardware);
        QFETCH(QString, line);
        LogCapture log;
        PlayerProbe player;
        QStringList order;
        QObject receiver; // queued calls die with this test row
        connect(&player, &FFmpegThread::receivePlayError, &receiver, [&] { order << "error"; });
        connect(&player, &FFmpegThread::receivePlayFinsh, &receiver, [&] { order << "finish"; });
        connect(&player, &FFmpegThread::receivePlayStart, &receiver, [&] { order << "start"; });
        player.setHardware(hardware);
        player.setUrl(path(file));
        player.play();
        player.start();
        QTRY_COMPARE_WITH_TIMEOUT(order, QStringList({"error", "finish"}), 10000);
        QVERIFY(log.contains(QStringLiteral("\"Ch1\" ") + line));
    }

    void playDuringPlaybackOpensAgain()
    {
        LogCapture log;
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(path("av.mp4"));
        player.play();
        player.start();
        QVERIFY(watch.waitForImages(5));
        // Long enough that an open time-out counted from the thread start would have run out.
        player.setCheckTime(300);
        QTest::qWait(500);
        player.play();
        QTRY_COMPARE_WITH_TIMEOUT(watch.started.count(), 2, 10000);
        const int before = watch.images.size();
        QVERIFY(watch.waitForImages(before + 5));
        player.stop();
        QVERIFY(watch.waitForFinish());
        QCOMPARE(watch.errors.count(), 0);
        QCOMPARE(log.matching(QStringLiteral("Ini Finish")).size(), 2);
        QString why;
        QVERIFY2(TestMedia::showsSmpteBars(watch.images.last(), 40, &why), qPrintable(why));
    }

    void stopWhilePausedEndsRun()
    {
        LogCapture log;
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(path("av.mp4"));
        player.play();
        player.start();
        QVERIFY(watch.waitForImages(1));
        player.pause();
        player.stop();
        QVERIFY(watch.waitForFinish(5000));
        QVERIFY(player.wait(5000));
        QVERIFY(log.contains(QStringLiteral("stop ffmpeg thread")));
        QVERIFY(log.contains(QStringLiteral("pause  true")));
    }

    void playsAgainAfterStopOnIdlePlayer()
    {
        // The camera session stops a player that already ended on its own, then starts it again.
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(path("h264.mp4"));
        player.stop();
        player.play();
        player.start();
        QVERIFY(watch.waitForFinish());
        QCOMPARE(watch.started.count(), 1);
        QCOMPARE(watch.images.size(), 50);
    }

    void audioPacesFileInRealTime()
    {
        // A file with audio plays at its own pace: 4 s of media do not end within 2 s.
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(path("av.mp4"));
        player.play();
        player.start();
        QVERIFY(watch.waitForImages(1));
        QTest::qWait(1500);
        QCOMPARE(watch.finished.count(), 0);
        QVERIFY(watch.images.size() < 100);
        player.stop();
        QVERIFY(watch.waitForFinish());
    }
};

QTEST_GUILESS_MAIN(FilePlaybackTest)
#include "tst_media_files.moc"
