// stop() in every state of the player, through the real FFmpegThread: it ends the run with one finish, in
// less time than the player's own time-out for that state (checkTime while opening, readTime while
// reading) would have taken, so only a working stop() passes. Without stop() an open that gets no answer
// ends by checkTime.
#include "PlayerProbe.h"

#include "HangingTcpServer.h"
#include "LogCapture.h"

#include <QTemporaryDir>
#include <QtTest>

extern "C" {
#include <libavutil/time.h>
}

namespace {
// The player's own clock (the one its time-outs count on), in milliseconds.
qint64 playerClockMs()
{
    return av_gettime_relative() / 1000;
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
        QTest::newRow("reading a source that stalls") << "stalled"
                                                      << "tcp" << true << started;
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
        // The time-out that would otherwise end this state; a stop() must beat it by far.
        const int timeOut = stop ? 20000 : 1500;
        run.player.setCheckTime(timeOut);
        // Without stop() only the open's own time-out may end it, not the read time-out.
        run.player.setReadTime(stop ? timeOut : 4 * timeOut);
        // A looping file: nothing but stop() ends it.
        run.player.setPlayRepeat(scheme.isEmpty());
        const QString url =
            scheme.isEmpty()
                ? dir.filePath("bars.mp4")
                : QStringLiteral("%1://127.0.0.1:%2/live/test").arg(scheme).arg(server.serverPort());
        std::atomic<qint64> stopped{0};
        if (state == "finishing") {
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
        if (state == "idle")
            run.player.start();
        else
            run.start(url);

        // Into the state.
        if (state == "opening")
            QVERIFY(QTest::qWaitFor([&] { return server.connections() > 0; }, 5000));
        else if (state == "stalled")
            QVERIFY(run.waitForImages(50)); // every frame sent is out: the next read waits for more
        else if (state == "paused" || state == "playing")
            QVERIFY(run.waitForImages(30)); // past the first turn of the loop
        if (state == "paused")
            run.player.pause();

        if (stop && state != "finishing") {
            stopped = playerClockMs();
            run.player.stop();
        }
        QVERIFY(run.waitForFinish(2 * timeOut + 10000));
        const qint64 took = playerClockMs() - (stop ? stopped.load() : started);
        if (stop)
            QVERIFY2(took < timeOut / 4, qPrintable(QStringLiteral("%1 ms after stop()").arg(took)));
        else
            QVERIFY2(took >= timeOut && took < 2 * timeOut, qPrintable(QStringLiteral("%1 ms").arg(took)));
        QVERIFY(run.player.wait(timeOut));
        QCOMPARE(run.order, order);
        QCOMPARE(log.matching("stop ffmpeg thread").size(), 1);
        if (state == "opening")
            QVERIFY(log.contains("open input error"));
        if (state == "finishing")
            QCOMPARE(run.images().size(), 25);
    }
};

QTEST_GUILESS_MAIN(StopTest)
#include "tst_media_stop.moc"
