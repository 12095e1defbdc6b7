// An SDP file describing a local RTP stream that ffmpeg sends to 127.0.0.1.
#include "PlayerProbe.h"

#include "TestMedia.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class SdpTest : public QObject
{
    Q_OBJECT

private slots:
    void playsSdpDescribedRtp()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const quint16 port = TestMedia::freeUdpPortPair();
        QVERIFY(port != 0);
        const QString sdp = dir.filePath("stream.sdp");
        QProcess sender;
        sender.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sender.start("ffmpeg", {"-hide_banner",
                                "-loglevel",
                                "error",
                                "-re",
                                "-f",
                                "lavfi",
                                "-i",
                                "smptebars=size=320x240:rate=25:duration=60",
                                "-c:v",
                                "libx264",
                                "-preset",
                                "ultrafast",
                                "-tune",
                                "zerolatency",
                                "-pix_fmt",
                                "yuv420p",
                                "-g",
                                "10",
                                "-f",
                                "rtp",
                                QStringLiteral("rtp://127.0.0.1:%1").arg(port),
                                "-sdp_file",
                                sdp});
        QVERIFY(sender.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return QFile(sdp).size() > 0; }, 10000));
        QTest::qWait(200); // the description is written in one go; let it land

        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setUrl(sdp);
        player.play();
        player.start();
        QVERIFY(watch.waitForImages(10, 30000));
        player.stop();
        QVERIFY(watch.waitForFinish());
        sender.kill();
        sender.waitForFinished();
        QCOMPARE(watch.started.count(), 1);
        QCOMPARE(watch.errors.count(), 0);
        QCOMPARE(player.formatName, QStringLiteral("sdp"));
        QCOMPARE(watch.images.last().size(), QSize(320, 240));
        QString why;
        QVERIFY2(TestMedia::showsSmpteBars(watch.images.last(), 40, &why), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(SdpTest)
#include "tst_media_sdp.moc"
