// RTMP from nginx's RTMP module on 127.0.0.1, fed by an ffmpeg publisher.
#include "PlayerProbe.h"

#include "LogCapture.h"
#include "RtmpServer.h"

#include <QTemporaryDir>
#include <QtTest>

class RtmpTest : public QObject
{
    Q_OBJECT

private slots:
    void playsRtmp()
    {
        QTemporaryDir dir;
        QVERIFY(TestMedia::ffmpeg(dir.path(),
                                  "-f lavfi -i smptebars=size=320x240:rate=25:duration=4 -f lavfi "
                                  "-i sine=duration=4 -c:v libx264 -preset veryfast -pix_fmt yuv420p "
                                  "-g 10 -c:a aac -shortest av.mp4"));
        RtmpServer server;
        QVERIFY(server.start());
        QVERIFY(server.publish(dir.filePath("av.mp4")));
        LogCapture log;
        PlayerRun run;
        run.verifyLive(server.url(), QStringLiteral("flv"));
        QVERIFY(run.player.currentSettings().isNetwork);
        QVERIFY(!run.player.currentSettings().saveMp4);
        QVERIFY(log.contains("音频信息 -> 索引: 0  解码: aac"));
    }
};

QTEST_GUILESS_MAIN(RtmpTest)
#include "tst_media_rtmp.moc"
