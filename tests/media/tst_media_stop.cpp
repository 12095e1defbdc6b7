// stop() in every state of the player, through the real FFmpegThread: it ends the run with one finish in
// less than half the shortest time-out that could end that state by itself (checkTime, readTime, the
// socket time-out of the input's options), so only a working stop() passes. Without stop() an open that
// gets no answer ends by checkTime, before any other time-out. The wall clock is set an hour back while
// an open waits and an hour ahead while a read waits (an administrator, a time daemon): the time-outs
// must not notice. The program runs with ClockShift preloaded, which moves its wall clock.
#include "PlayerProbe.h"

#include "HangingTcpServer.h"
#include "LogCapture.h"
#include "media/MediaUrl.h"

#include <QTemporaryDir>

#include <algorithm>
#include <QtTest>
#include <unistd.h>

extern "C" {
#include <libavutil/time.h>
}

namespace {
// Moves this process's wall clock (not the monotonic one) by seconds from now on.
void shiftClock(int seconds)
{
    QFile shift(qEnvironmentVariable("TARN_CLOCK_SHIFT_FILE"));
    if (shift.open(QIODevice::WriteOnly | QIODevice::Truncate))
        shift.write(QByteArray::number(seconds));
}

// The player's own clock (the one its time-outs count on), in milliseconds.
qint64 playerClockMs()
{
    return av_gettime_relative() / 1000;
}

// The time-outs that could end the player's open or read by itself, in milliseconds: checkTime, readTime
// and the socket time-outs its input is opened with.
QMap<QString, int> timeOuts(const FFmpegThread &player)
{
    const PlayerSettings settings = player.currentSettings();
    QMap<QString, int> found{{"checkTime", settings.checkTime}, {"readTime", settings.readTime}};
    av::DictionaryPtr options;
    MediaUrl::addInputOptions(av::out(options), settings);
    for (const char *key : {"timeout", "rw_timeout"}) {
        if (const AVDictionaryEntry *entry = av_dict_get(options.get(), key, nullptr, 0))
            found.insert(key, int(QByteArray(entry->value).toLongLong() / 1000));
    }
    return found;
}
} // namespace

class StopTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QByteArray stallingGreeting;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("TARN_CLOCK_SHIFT_FILE", QFile::encodeName(dir.filePath("shift")));
        QVERIFY(TestMedia::ffmpeg(dir.path(),
                                  "-f lavfi -i smptebars=size=64x48:rate=25:duration=1 -c:v libx264 "
                                  "-pix_fmt yuv420p bars.mp4"));
        // Raw frames: each one is delivered as soon as it is read, none waits in a decoder.
        QVERIFY(TestMedia::ffmpeg(dir.path(), "-f lavfi -i smptebars=size=64x48:rate=25 -frames:v 50 "
                                              "-pix_fmt yuv420p stall.y4m"));
        QFile stalling(dir.filePath("stall.y4m"));
        QVERIFY(stalling.open(QIODevice::ReadOnly));
        stallingGreeting = stalling.readAll();
    }

    void cleanup() { shiftClock(0); }

    void stopEndsEveryState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QStringList>("order");
        const QStringList started{"start", "finish"}, failed{"error", "finish"};
        QTest::newRow("idle") << "idle" << QString() << true << QStringList{"finish"};
        for (const char *scheme : {"rtsp", "rtmp", "http", "tcp"}) {
            QTest::addRow("opening %s", scheme) << "opening" << scheme << true << failed;
            QTest::addRow("opening %s, no stop: checkTime ends it", scheme)
                << "opening" << scheme << false << failed;
        }
        QTest::newRow("reading a source that stalls") << QString("stalled") << "tcp" << true << started;
        QTest::newRow("paused") << "paused" << QString() << true << started;
        QTest::newRow("playing") << "playing" << QString() << true << started;
        QTest::newRow("finishing, at the end of the file") << "finishing" << QString() << true << started;
    }
    void stopEndsEveryState()
    {
        QFETCH(QString, state);
        QFETCH(QString, scheme);
        QFETCH(bool, stop);
        QFETCH(QStringList, order);
        HangingTcpServer server(state == "stalled" ? stallingGreeting : QByteArray());
        LogCapture log;
        PlayerRun run;
        // Without stop(), the open must end by checkTime, the shortest of its time-outs.
        run.player.setCheckTime(stop ? 20000 : 1500);
        run.player.setReadTime(20000);
        // A looping file: nothing but stop() ends it.
        run.player.setPlayRepeat(scheme.isEmpty());
        run.player.setUrl(
            scheme.isEmpty()
                ? dir.filePath("bars.mp4")
                : QStringLiteral("%1://127.0.0.1:%2/live/test").arg(scheme).arg(server.serverPort()));
        QMap<QString, int> limits = timeOuts(run.player);
        const int checkTime = limits.take("checkTime");
        const int otherwise = *std::min_element(limits.cbegin(), limits.cend());
        std::atomic<qint64> stopped{0};
        if (state == "paused") {
            // Paused as soon as the input is open: the player never reads from it.
            connect(
                &run.player, &FFmpegThread::receivePlayStart, this, [&] { run.player.pause(); },
                Qt::DirectConnection);
        } else if (state == "finishing") {
            // At the file's last frame, which comes out of the decoder while the player drains it at the
            // end of the file: the run ends there instead of starting the next turn.
            run.stopAt = 25;
            connect(
                &run.player, &FFmpegThread::receiveImage, this,
                [&, seen = 0](const QImage &) mutable {
                    if (++seen == 25)
                        stopped = playerClockMs();
                },
                Qt::DirectConnection);
        }
        const qint64 started = playerClockMs();
        if (state != "idle")
            run.player.play();
        run.player.start();

        // Into the state.
        if (state == "opening") {
            QVERIFY(QTest::qWaitFor([&] { return server.connections() > 0; }, 5000));
            shiftClock(-3600);
        } else if (state == "stalled") {
            QVERIFY(run.waitForImages(50)); // every frame sent is out: the next read waits for more
            shiftClock(3600);
            QVERIFY(!log.waitFor("errorCount", 1000));
        } else if (state == "playing")
            QVERIFY(run.waitForImages(30)); // past the first turn of the loop
        else if (state == "paused")
            QVERIFY(QTest::qWaitFor([&] { return run.order.contains("start"); }, 10000));

        if (stop && state != "finishing") {
            stopped = playerClockMs();
            run.player.stop();
        }
        QVERIFY(run.waitForFinish(2 * qMax(checkTime, otherwise)));
        const qint64 took = playerClockMs() - (stop ? stopped.load() : started);
        const QString times = QStringLiteral("%1 ms; checkTime %2 ms, shortest other time-out %3 ms")
                                  .arg(took)
                                  .arg(checkTime)
                                  .arg(otherwise);
        if (stop)
            QVERIFY2(took < qMin(checkTime, otherwise) / 2, qPrintable(times));
        else
            QVERIFY2(took >= checkTime && took < otherwise, qPrintable(times));
        QVERIFY(run.player.wait(otherwise));
        QCOMPARE(run.order, order);
        if (state == "paused")
            QVERIFY(run.images().isEmpty());
        if (state == "finishing")
            QCOMPARE(run.images().size(), 25);
    }
};

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariable("LD_PRELOAD").contains(TARN_CLOCK_SHIFT_LIBRARY)) {
        qputenv("LD_PRELOAD", TARN_CLOCK_SHIFT_LIBRARY);
        // Under AddressSanitizer the shim comes before its runtime; it allocates nothing of ASan's.
        qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        ::execv("/proc/self/exe", argv);
        return 2;
    }
    QCoreApplication app(argc, argv);
    StopTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_media_stop.moc"
