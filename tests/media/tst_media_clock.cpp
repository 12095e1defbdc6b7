// The player's time-outs against a wall clock that is set while it plays (an administrator, a time
// daemon): moved an hour ahead it must not cut good reads short, moved an hour back it must not stop
// an open from timing out. Each case runs in a child process of this program whose wall clock
// ClockShift.so moves.
#include "PlayerProbe.h"

#include "HangingTcpServer.h"
#include "LogCapture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
void shiftClock(const QString &file, int seconds)
{
    QFile shift(file);
    if (shift.open(QIODevice::WriteOnly | QIODevice::Truncate))
        shift.write(QByteArray::number(seconds));
}

// Child: plays a live stream of 5 frames a second that ffmpeg serves on a UNIX socket (so that every
// read waits and asks the interrupt callback) and moves the clock an hour ahead after five images. 0
// when playback went on for ten more images without a failed read.
int clockAheadDuringReads(const QString &dir, const QString &shiftFile)
{
    QProcess source;
    source.setWorkingDirectory(dir);
    source.start("ffmpeg", QString("-v error -re -f lavfi -i testsrc=size=160x120:rate=5 -pix_fmt yuv420p "
                                   "-f yuv4mpegpipe -listen 1 unix:live.sock")
                               .split(' '));
    if (!QTest::qWaitFor([&] { return QFile::exists(dir + "/live.sock"); }, 10000))
        return 2;
    const auto stopSource = qScopeGuard([&] {
        source.kill();
        source.waitForFinished();
    });
    LogCapture log;
    PlayerRun run;
    run.start("unix:" + dir + "/live.sock");
    if (!run.waitForImages(5, 20000))
        return 3;
    shiftClock(shiftFile, 3600);
    const bool wentOn = run.waitForImages(15, 20000) && !run.order.contains("finish");
    return wentOn && !log.contains("errorCount") ? 0 : 1;
}

// Child: an open that hangs, the clock moved an hour back once the connection is up. 0 when the open
// time-out (1.5 s) still cut it short, before the socket's own 3 s bound.
int clockBackDuringOpen(const QString &shiftFile)
{
    HangingTcpServer server;
    LogCapture log;
    PlayerRun run;
    run.player.setCheckTime(1500);
    run.start(QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort()));
    if (!QTest::qWaitFor([&] { return server.connections() > 0; }, 5000))
        return 3;
    shiftClock(shiftFile, -3600);
    if (!run.waitForFinish(20000))
        return 3;
    return log.contains("open input error \"Immediate exit requested\"") ? 0 : 1;
}
} // namespace

class ClockChangeTest : public QObject
{
    Q_OBJECT

private slots:
    void timeOutsIgnoreWallClockChanges_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("clock an hour ahead during reads") << "ahead";
        QTest::newRow("clock an hour back during an open") << "back";
    }
    void timeOutsIgnoreWallClockChanges()
    {
        QFETCH(QString, scenario);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString shim = QString::fromLocal8Bit(qgetenv("TARN_CLOCK_SHIFT_LIBRARY"));
        QVERIFY2(QFile::exists(shim), qPrintable(shim));
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", shim);
        // Under AddressSanitizer the shim comes before its runtime; it allocates nothing of ASan's.
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        env.insert("TARN_CLOCK_SHIFT_FILE", dir.filePath("shift"));
        env.insert("TARN_CLOCK_SCENARIO", scenario);
        env.insert("TARN_CLOCK_DIR", dir.path());
        env.insert("QT_LOGGING_RULES", "tarn.media.interrupt.debug=false");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString scenario = QString::fromLocal8Bit(qgetenv("TARN_CLOCK_SCENARIO"));
    const QString dir = QString::fromLocal8Bit(qgetenv("TARN_CLOCK_DIR"));
    const QString shiftFile = QString::fromLocal8Bit(qgetenv("TARN_CLOCK_SHIFT_FILE"));
    if (scenario == "ahead")
        return clockAheadDuringReads(dir, shiftFile);
    if (scenario == "back")
        return clockBackDuringOpen(shiftFile);
    ClockChangeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_media_clock.moc"
