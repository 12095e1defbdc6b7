// The player object on its own: defaults, the setters that check their value, snap, library initialisation.

#include "LogCapture.h"
#include "media/FFmpegThread.h"

#include <QtTest>

namespace {
// Opens up the player's control flags and frame count.
class PlayerProbe : public FFmpegThread
{
public:
    using FFmpegThread::callback;
    using FFmpegThread::frameCount;
    using FFmpegThread::interval;
    using FFmpegThread::snapPending;
};
} // namespace

class PlayerObjectTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void defaults();
    void settersIgnoreValuesBelowOne();
    void snapNeedsRawFrames();
};

// Runs before any player of this process exists: the first player registers the libraries and says so
// once, naming the version the process runs on; the second one and later calls leave them alone.
void PlayerObjectTest::initTestCase()
{
    LogCapture log;
    FFmpegThread first, second;
    QVERIFY(!FFmpegThread::initLib());
    const QStringList lines = log.matching("init ffmpeg lib ok");
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains(QString::fromUtf8(av_version_info())), qPrintable(lines.first()));
}

void PlayerObjectTest::defaults()
{
    PlayerProbe player;
    const PlayerSettings s = player.currentSettings();
    QCOMPARE(QSize(s.videoWidth, s.videoHeight), QSize(640, 480));
    QCOMPARE(s.fileFlag, QStringLiteral("Ch1"));
    QCOMPARE(s.hardware, QStringLiteral("none"));
    QCOMPARE(s.transport, QStringLiteral("tcp"));
    QCOMPARE(s.imageFlag, int(FFmpegThread::ImageFlag_Bicubic));
    QVERIFY(player.callback);
    QVERIFY(s.saveMp4);
    QCOMPARE(s.readTime, 8000);
    QCOMPARE(s.checkTime, 3000);
    QCOMPARE(s.sleepTime, 0);
    QCOMPARE(int(player.interval), 1);
    QCOMPARE(s.videoFps, 0.0);
    QVERIFY(!s.checkConn && !s.playRepeat && !s.playAudio);
    QCOMPARE(s.saveTime.toString("yyyy-MM-dd HH:mm:ss"), QStringLiteral("1970-01-01 00:00:00"));
    QVERIFY2(QRegularExpression("^/Ch1_\\d{4}(-\\d{2}){5}\\.mp4$").match(s.fileName).hasMatch(),
             qPrintable(s.fileName));
}

// A value that is not positive leaves the setting as it was; a new interval restarts the frame count.
void PlayerObjectTest::settersIgnoreValuesBelowOne()
{
    PlayerProbe player;
    player.setSleepTime(5);
    player.frameCount = 2;
    player.setInterval(0);
    player.setInterval(-2);
    player.setVideoFps(-1.0);
    player.setSleepTime(0);
    QCOMPARE(int(player.interval), 1);
    QCOMPARE(int(player.frameCount), 2);
    QCOMPARE(player.currentSettings().videoFps, 0.0);
    QCOMPARE(player.currentSettings().sleepTime, 5);
    player.setInterval(5);
    QCOMPARE(int(player.interval), 5);
    QCOMPARE(int(player.frameCount), 0);
}

void PlayerObjectTest::snapNeedsRawFrames()
{
    PlayerProbe player;
    player.snap();
    QVERIFY(!player.snapPending);
    player.setCallback(false);
    player.snap();
    QVERIFY(player.snapPending);
}

QTEST_GUILESS_MAIN(PlayerObjectTest)
#include "tst_playerobject.moc"
