// RTSP from GStreamer's RTSP server on 127.0.0.1 (a live stream without length), over TCP and UDP, and
// a server that dies mid-stream.
#include "PlayerProbe.h"

#include "LogCapture.h"
#include "RtspServer.h"
#include "TestMedia.h"

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
        LogCapture log;
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setTransport(transport);
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
        QCOMPARE(player.formatName, QStringLiteral("rtsp"));
        QCOMPARE(watch.images.last().size(), QSize(320, 240));
        QString why;
        QVERIFY2(TestMedia::showsSmpteBars(watch.images.last(), 40, &why, 255), qPrintable(why));
    }

    void serverDeathEndsPlaybackAfterThreeFailedReads()
    {
        RtspServer server;
        QVERIFY(server.start());
        LogCapture log;
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(server.url());
        player.play();
        player.start();
        QVERIFY(watch.waitForImages(5, 30000));
        server.stop();
        QVERIFY(watch.waitForFinish(20000));
        QCOMPARE(watch.errors.count(), 0);
        QVERIFY2(log.inOrder({"errorCount 1", "errorCount 2", "errorCount 3", "stop ffmpeg thread"}),
                 qPrintable(log.matching("errorCount").join('\n')));
        QVERIFY(!log.contains("errorCount 4"));
    }
};

QTEST_GUILESS_MAIN(RtspTest)
#include "tst_media_rtsp.moc"
