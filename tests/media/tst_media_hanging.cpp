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
    // stop() rows give the open a time-out far beyond their bound, so only a working stop() ends it in
    // time; time-out rows must not end before their checkTime.
    void hangingOpen()
    {
        QFETCH(QString, scheme);
        QFETCH(bool, stopEarly);
        HangingTcpServer server;
        LogCapture log;
        PlayerRun run;
        const int checkTime = stopEarly ? 60000 : 1500;
        run.player.setCheckTime(checkTime);
        QElapsedTimer clock;
        clock.start();
        run.start(QStringLiteral("%1://127.0.0.1:%2/live/test").arg(scheme).arg(server.serverPort()));
        QVERIFY(QTest::qWaitFor([&] { return server.connections() > 0; }, 5000));
        if (stopEarly) {
            clock.restart();
            run.player.stop();
        }
        QVERIFY(run.waitForFinish(stopEarly ? 10000 : checkTime + 10000));
        const qint64 took = clock.elapsed();
        if (stopEarly) {
            // The loop's exit sequence takes 100 ms; the rest is the interrupt answering at once.
            QVERIFY2(took < 2000, qPrintable(QString::number(took)));
        } else {
            QVERIFY2(took >= checkTime, qPrintable(QString::number(took)));
            QVERIFY2(took < checkTime + 5000, qPrintable(QString::number(took)));
        }
        QVERIFY(run.player.wait(1000));
        QCOMPARE(run.order, QStringList({"error", "finish"}));
        QVERIFY(log.contains("open input error"));
    }
};

QTEST_GUILESS_MAIN(HangingInputTest)
#include "tst_media_hanging.moc"
