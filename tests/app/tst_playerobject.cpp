// The player object on its own: defaults, the setters that check their value, snap, library initialisation.

#include "LogCapture.h"
#include "media/FFmpegThread.h"

#include <QtTest>

namespace {
// Reads the player's control flags and frame count.
class PlayerProbe : public FFmpegThread
{
public:
    using FFmpegThread::frameCount;
    using FFmpegThread::snapPending;

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
    void initTestCase();
    void settings_data();
    void settings();
    void snapNeedsRawFrames();
    void fileNameCarriesFlagAndTime();
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
}

void PlayerObjectTest::settings()
{
    QFETCH(Step, step);
    QFETCH(QString, expected);
    PlayerProbe player;
    step(player);
    QCOMPARE(player.setting(expected.section('=', 0, 0)), expected);
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

QTEST_GUILESS_MAIN(PlayerObjectTest)
#include "tst_playerobject.moc"
