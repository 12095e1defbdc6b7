// Live inputs without length from real servers on 127.0.0.1: GStreamer's RTSP server over TCP and UDP,
// nginx's RTMP module fed by an ffmpeg publisher, and an SDP file describing the RTP that ffmpeg sends;
// and an RTSP server that dies mid-stream.
#include "PlayerProbe.h"

#include "LogCapture.h"
#include "RtmpServer.h"
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
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("level"); // of the bars: GStreamer's are at full level
        QTest::newRow("rtsp over tcp") << QString("tcp") << QString("rtsp") << 255;
        QTest::newRow("rtsp over udp") << QString("udp") << QString("rtsp") << 255;
        QTest::newRow("rtmp") << QString("rtmp") << QString("flv") << 191;
        QTest::newRow("sdp describing rtp") << QString("sdp") << QString("sdp") << 191;
    }
    void playsLiveInput()
    {
        QFETCH(QString, kind);
        QFETCH(QString, format);
        QFETCH(int, level);
        QTemporaryDir dir;
        RtspServer rtsp;
        RtmpServer rtmp;
        QProcess sender;
        QString url;
        // An even UDP port whose successor is free too (RTP and RTCP), held until the player takes it.
        QUdpSocket rtp, rtcp;
        if (kind == "tcp" || kind == "udp") {
            QVERIFY(rtsp.start());
            url = rtsp.url();
        } else if (kind == "rtmp") {
            QVERIFY(TestMedia::ffmpeg(dir.path(),
                                      "-f lavfi -i smptebars=size=320x240:rate=25:duration=4 -f lavfi "
                                      "-i sine=duration=4 -c:v libx264 -preset veryfast -pix_fmt yuv420p "
                                      "-g 10 -c:a aac -shortest av.mp4"));
            QVERIFY(rtmp.start());
            QVERIFY(rtmp.publish(dir.filePath("av.mp4")));
            url = rtmp.url();
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
        LogCapture log;
        PlayerRun run;
        run.player.setTransport(kind == "udp" ? "udp" : "tcp");
        QVERIFY(run.play(url, 10));
        QCOMPARE(run.order, QStringList({"start", "finish"}));
        QVERIFY(run.lengths.isEmpty());
        QVERIFY(run.player.currentSettings().isNetwork); // no length: a stream
        QCOMPARE(run.player.source.formatName, format);
        QCOMPARE(run.images().last().size(), QSize(320, 240));
        QCOMPARE(TestMedia::smpteBarsMismatch(run.images().last(), 40, level), QString());
        if (kind == "rtmp") {
            QVERIFY(!run.player.currentSettings().saveMp4);
            QVERIFY(log.contains("音频信息 -> 索引: 0  解码: aac"));
        }
        sender.kill();
        sender.waitForFinished();
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

QTEST_GUILESS_MAIN(LiveInputTest)
#include "tst_media_live.moc"
