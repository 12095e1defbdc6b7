// An SDP file describing a local RTP stream that ffmpeg sends to 127.0.0.1.
#include "PlayerProbe.h"

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
        const quint16 port = TestMedia::freeUdpPortPair();
        QVERIFY(port != 0);
        const QString sdp = dir.filePath("stream.sdp");
        QProcess sender;
        sender.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QString args =
            "-hide_banner -loglevel error -re -f lavfi -i smptebars=size=320x240:rate=25:duration=60 "
            "-c:v libx264 -preset ultrafast -tune zerolatency -pix_fmt yuv420p -g 10 -f rtp "
            "rtp://127.0.0.1:%1 -sdp_file %2";
        sender.start("ffmpeg", args.arg(port).arg(sdp).split(' '));
        QVERIFY(sender.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return QFile(sdp).size() > 0; }, 10000));
        QTest::qWait(200); // the description is written in one go; let it land
        PlayerRun run;
        run.verifyLive(sdp, QStringLiteral("sdp"));
        sender.kill();
        sender.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(SdpTest)
#include "tst_media_sdp.moc"
