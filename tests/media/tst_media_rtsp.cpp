// RTSP from GStreamer's RTSP server on 127.0.0.1 (a live stream without length), over TCP and UDP, and
// a server that dies mid-stream.
#include "PlayerProbe.h"

#include "LogCapture.h"
#include "RtspServer.h"

#include <QtTest>

class RtspTest : public QObject
{
    Q_OBJECT

private slots:
    void playsRtsp_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::newRow("tcp") << "tcp";
        QTest::newRow("udp") << "udp";
    }
    void playsRtsp()
    {
        QFETCH(QString, transport);
        RtspServer server;
        QVERIFY(server.start());
        PlayerRun run;
        run.player.setTransport(transport);
        run.verifyLive(server.url(), QStringLiteral("rtsp"), {320, 240}, 255);
        QVERIFY(run.player.currentSettings().isNetwork);
    }

    void serverDeathEndsPlaybackAfterThreeFailedReads()
    {
        RtspServer server;
        QVERIFY(server.start());
        LogCapture log;
        PlayerRun run;
        run.start(server.url());
        QVERIFY(run.waitForImages(5));
        server.stop();
        QVERIFY(run.waitForFinish());
        QCOMPARE(run.order, QStringList({"start", "finish"}));
        QVERIFY2(log.inOrder({"errorCount 1", "errorCount 2", "errorCount 3", "stop ffmpeg thread"}),
                 qPrintable(log.matching("errorCount").join('\n')));
        QVERIFY(!log.contains("errorCount 4"));
    }
};

QTEST_GUILESS_MAIN(RtspTest)
#include "tst_media_rtsp.moc"
