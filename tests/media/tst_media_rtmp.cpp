// RTMP from nginx's RTMP module on 127.0.0.1, fed by an ffmpeg publisher.
#include "PlayerProbe.h"

#include "LogCapture.h"
#include "RtmpServer.h"
#include "TestMedia.h"

#include <QTemporaryDir>
#include <QtTest>

class RtmpTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

private slots:
    void playsRtmp()
    {
        QVERIFY(dir.isValid());
        QVERIFY(TestMedia::ffmpeg(
            {"-f",       "lavfi",   "-i",        "smptebars=size=320x240:rate=25:duration=4",
             "-f",       "lavfi",   "-i",        "sine=duration=4",
             "-c:v",     "libx264", "-preset",   "veryfast",
             "-pix_fmt", "yuv420p", "-g",        "10",
             "-c:a",     "aac",     "-shortest", dir.filePath("av.mp4")}));
        RtmpServer server;
        QVERIFY(server.start());
        QVERIFY(server.publish(dir.filePath("av.mp4")));
        LogCapture log;
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(server.url());
        player.play();
        player.start();
        QVERIFY(watch.waitForImages(10, 30000));
        player.stop();
        QVERIFY(watch.waitForFinish());
        QCOMPARE(watch.started.count(), 1);
        QCOMPARE(watch.errors.count(), 0);
        QCOMPARE(watch.lengths.count(), 0);
        QVERIFY(player.isNetwork);
        QVERIFY(!player.saveMp4);
        QCOMPARE(player.formatName, QStringLiteral("flv"));
        QString why;
        QVERIFY2(TestMedia::showsSmpteBars(watch.images.last(), 40, &why), qPrintable(why));
        QVERIFY(log.contains("音频信息 -> 索引: 0  解码: aac"));
    }
};

QTEST_GUILESS_MAIN(RtmpTest)
#include "tst_media_rtmp.moc"
