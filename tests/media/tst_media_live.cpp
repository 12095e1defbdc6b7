// Live inputs without length from real servers on 127.0.0.1: GStreamer's RTSP server over UDP and an SDP
// file describing the RTP that ffmpeg sends (RTSP over TCP and RTMP: tst_media_record); and an RTSP
// server that dies mid-stream.
#include "PlayerProbe.h"

#include "RtspServer.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <QUdpSocket>

class LiveInputTest : public QObject
{
    Q_OBJECT

private slots:
    void playsLiveInput_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("rtsp over udp") << QString("udp");
        QTest::newRow("sdp describing rtp") << QString("sdp");
    }
    void playsLiveInput()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        RtspServer rtsp;
        QProcess sender;
        QString url;
        // An even UDP port whose successor is free too (RTP and RTCP), held until the player takes it.
        QUdpSocket rtp, rtcp;
        if (kind == "udp") {
            QVERIFY(rtsp.start());
            url = rtsp.url();
        } else {
            QVERIFY(QTest::qWaitFor(
                [&] {
                    rtp.close();
                    return rtp.bind(QHostAddress(QHostAddress::LocalHost), 0) && rtp.localPort() % 2 == 0 &&
                           rtcp.bind(QHostAddress(QHostAddress::LocalHost), rtp.localPort() + 1);
                },
                5000));
            url = dir.filePath("stream.sdp");
            sender.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            sender.start("ffmpeg",
                         QStringLiteral("-hide_banner -loglevel error -re -f lavfi -i "
                                        "smptebars=size=320x240:rate=25:duration=60 -c:v libx264 -preset "
                                        "ultrafast -tune zerolatency -pix_fmt yuv420p -g 10 -f rtp "
                                        "rtp://127.0.0.1:%1 -sdp_file %2")
                             .arg(rtp.localPort())
                             .arg(url)
                             .split(' '));
            // The description is written in one go, at the sender's start.
            QVERIFY(QTest::qWaitFor(
                [&] {
                    QFile file(url);
                    return file.open(QIODevice::ReadOnly) && file.readAll().endsWith("\n");
                },
                10000));
            rtp.close();
            rtcp.close();
        }
        PlayerRun run;
        if (kind == "udp")
            run.player.setTransport("udp");
        QVERIFY(run.play(url, 10));
        QCOMPARE(run.order, QStringList({"start", "finish"}));
        QVERIFY(run.lengths.isEmpty());
        QVERIFY(run.player.currentSettings().isNetwork); // no length: a stream
        QCOMPARE(run.player.source.formatName, kind == "sdp" ? "sdp" : "rtsp");
        QCOMPARE(run.images().last().size(), QSize(320, 240));
        // GStreamer's bars are at full level, ffmpeg's at 75 %.
        QCOMPARE(TestMedia::smpteBarsMismatch(run.images().last(), 40, kind == "sdp" ? 191 : 255), QString());
        sender.kill();
        sender.waitForFinished();
    }

    void serverDeathEndsPlayback()
    {
        RtspServer server;
        QVERIFY(server.start());
        PlayerRun run;
        run.player.setCheckConn(true); // the pre-check finds the port open
        run.start(server.url());
        QVERIFY(run.waitForImages(5));
        server.stop();
        QVERIFY(run.waitForFinish());
        QCOMPARE(run.order, QStringList({"start", "finish"}));
    }
};

QTEST_GUILESS_MAIN(LiveInputTest)
#include "tst_media_live.moc"
