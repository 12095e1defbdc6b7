// Inputs that never answer: the open gives up after checkTime, stop() cuts it short at once.
#include "PlayerProbe.h"

#include "HangingTcpServer.h"
#include "LogCapture.h"

#include <QElapsedTimer>
#include <QtTest>

class HangingInputTest : public QObject
{
    Q_OBJECT

private slots:
    void hangingOpen_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<bool>("stopEarly");
        for (const char *scheme : {"rtsp", "rtmp", "http", "tcp"}) {
            QTest::addRow("%s, stop()", scheme) << scheme << true;
            QTest::addRow("%s, open time-out", scheme) << scheme << false;
        }
    }
    void hangingOpen()
    {
        QFETCH(QString, scheme);
        QFETCH(bool, stopEarly);
        HangingTcpServer server;
        LogCapture log;
        PlayerRun run;
        run.player.setCheckTime(1500);
        QElapsedTimer clock;
        clock.start();
        run.start(QStringLiteral("%1://127.0.0.1:%2/live/test").arg(scheme).arg(server.serverPort()));
        QVERIFY(QTest::qWaitFor([&] { return server.connections() > 0; }, 5000));
        if (stopEarly) {
            QTest::qWait(200);
            clock.restart();
            run.player.stop();
        }
        QVERIFY(run.waitForFinish(10000));
        // The open ends within checkTime (counted from the start) plus the exit sequence.
        QVERIFY2(clock.elapsed() < run.player.currentSettings().checkTime + 1000,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(run.player.wait(1000));
        QCOMPARE(run.order, QStringList({"error", "finish"}));
        QVERIFY(log.contains("open input error"));
    }
};

QTEST_GUILESS_MAIN(HangingInputTest)
#include "tst_media_hanging.moc"
