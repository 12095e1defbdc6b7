// The player object on its own: defaults, setter rules, control flags, library initialisation.

#include "LogCapture.h"
#include "media/FFmpegThread.h"

#include <QtTest>

namespace {
// Reads the player's control flags and frame count.
class PlayerProbe : public FFmpegThread
{
public:
    using FFmpegThread::frameCount;
    using FFmpegThread::openPending;
    using FFmpegThread::paused;
    using FFmpegThread::snapPending;
    using FFmpegThread::stopped;

    // A setting as "name=value", so a table can name any of them.
    QString setting(const QString &name) const
    {
        const PlayerSettings s = currentSettings();
        auto flag = [](bool on) {
            return QString(on ? "true" : "false");
        };
        const QMap<QString, QString> all{
            {"videoWidth", QString::number(s.videoWidth)},
            {"videoHeight", QString::number(s.videoHeight)},
            {"fileFlag", s.fileFlag},
            {"hardware", s.hardware},
            {"transport", s.transport},
            {"imageFlag", QString::number(s.imageFlag)},
            {"callback", flag(callback)},
            {"saveMp4", flag(s.saveMp4)},
            {"readTime", QString::number(s.readTime)},
            {"checkTime", QString::number(s.checkTime)},
            {"interval", QString::number(interval)},
            {"frameCount", QString::number(frameCount)},
            {"videoFps", QString::number(s.videoFps)},
            {"sleepTime", QString::number(s.sleepTime)},
            {"checkConn", flag(s.checkConn)},
            {"playRepeat", flag(s.playRepeat)},
            {"playAudio", flag(s.playAudio)},
            {"saveTime", s.saveTime.toString("yyyy-MM-dd HH:mm:ss")},
        };
        return name + '=' + all.value(name, "<unknown setting>");
    }
};

using Step = std::function<void(PlayerProbe &)>;
} // namespace
Q_DECLARE_METATYPE(Step)

class PlayerObjectTest : public QObject
{
    Q_OBJECT

private slots:
    void librariesInitialiseOncePerProcess();
    void settings_data();
    void settings();
    void controlFlags();
    void snapNeedsRawFrames();
    void fileNameCarriesFlagAndTime();
    void runIdlesUntilStoppedWithoutAnInput();
};

// Each row: a setter call (or none) on a fresh player, then the setting and the value it must hold.
void PlayerObjectTest::settings_data()
{
    QTest::addColumn<Step>("step");
    QTest::addColumn<QString>("expected");
    const Step none = [](PlayerProbe &) {
    };
    for (const char *setting :
         {"videoWidth=640", "videoHeight=480", "fileFlag=Ch1", "hardware=none", "transport=tcp",
          "imageFlag=1" /* bicubic */, "callback=true", "saveMp4=true", "readTime=8000", "checkTime=3000",
          "interval=1", "videoFps=0", "checkConn=false", "playRepeat=false", "playAudio=false",
          "saveTime=1970-01-01 00:00:00"})
        QTest::newRow(qPrintable(QString("default %1").arg(setting))) << none << QString(setting);

    // The setters that check their value.
    QTest::newRow("interval 0 ignored") << Step([](PlayerProbe &p) { p.setInterval(0); }) << "interval=1";
    QTest::newRow("interval -2 ignored") << Step([](PlayerProbe &p) { p.setInterval(-2); }) << "interval=1";
    QTest::newRow("interval resets frameCount")
        << Step([](PlayerProbe &p) { p.frameCount = 2, p.setInterval(5); }) << "frameCount=0";
    QTest::newRow("ignored interval keeps frameCount")
        << Step([](PlayerProbe &p) { p.frameCount = 2, p.setInterval(0); }) << "frameCount=2";
    QTest::newRow("videoFps -1 ignored") << Step([](PlayerProbe &p) { p.setVideoFps(-1.0); }) << "videoFps=0";
    QTest::newRow("sleepTime 0 ignored") << Step([](PlayerProbe &p) { p.setSleepTime(0); }) << "sleepTime=0";
    QTest::newRow("multiMode stores size untested")
        << Step([](PlayerProbe &p) { p.setMultiMode(true, 0, -3); }) << "videoHeight=-3";
}

void PlayerObjectTest::settings()
{
    QFETCH(Step, step);
    QFETCH(QString, expected);
    PlayerProbe player;
    step(player);
    QCOMPARE(player.setting(expected.section('=', 0, 0)), expected);
}

void PlayerObjectTest::controlFlags()
{
    PlayerProbe player;
    QVERIFY(!player.stopped && !player.openPending && !player.paused);
    player.pause();
    QVERIFY(player.paused);
    player.play();
    QVERIFY(player.openPending && !player.paused);
    player.pause();
    player.next();
    QVERIFY(!player.paused);
    player.stop();
    QVERIFY(player.stopped);
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

void PlayerObjectTest::fileNameCarriesFlagAndTime()
{
    PlayerProbe player;
    const QString fileName = player.currentSettings().fileName;
    QVERIFY2(QRegularExpression("^/Ch1_\\d{4}(-\\d{2}){5}\\.mp4$").match(fileName).hasMatch(),
             qPrintable(fileName));
}

void PlayerObjectTest::librariesInitialiseOncePerProcess()
{
    // Whichever player came first registered the libraries; later ones leave them alone.
    LogCapture log;
    FFmpegThread first, second;
    QVERIFY(!FFmpegThread::initLib());
    QVERIFY(log.matching("init ffmpeg lib ok").size() <= 1);
    // The line names the version the process runs on; a fresh registration logs it once.
    const QStringList lines = log.matching("init ffmpeg lib ok");
    if (!lines.isEmpty())
        QVERIFY2(lines.first().contains(QString::fromUtf8(av_version_info())), qPrintable(lines.first()));
}

void PlayerObjectTest::runIdlesUntilStoppedWithoutAnInput()
{
    PlayerProbe player;
    QSignalSpy error(&player, &FFmpegThread::receivePlayError);
    player.start();
    QVERIFY(player.isRunning());
    player.stop();
    QVERIFY(player.wait(5000));
    QCOMPARE(error.count(), 0);
    QVERIFY(!player.stopped); // the end of a run clears the flags for the next one
}

QTEST_GUILESS_MAIN(PlayerObjectTest)
#include "tst_playerobject.moc"
