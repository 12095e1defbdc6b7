// The camera commands and the property refresh, through the controller to the simulated camera.

#include "LogCapture.h"
#include "SessionFixture.h"

class CommandsTest : public QObject
{
    Q_OBJECT

private slots:
    void commandReachesTheCamera_data();
    void commandReachesTheCamera();
    void closedCameraGetsNothing();
    void commandDuringSlowRefreshIsRepeatedNotLost();
    void commandsPostponeTheRefresh();
    void refreshEmitsZoomThenSerialNumber();
    void controllerDestroyedDuringRefreshReceivesNothing();
};

// Each row: a slot, its argument for slotZoom, and the value the camera must receive.
void CommandsTest::commandReachesTheCamera_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QString>("channel");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("entryLine");

    QTest::newRow("record") << "slotRecord" << 0.0 << "contrast" << 0 << "slot Record";
    QTest::newRow("track") << "slotTrack" << 0.0 << "contrast" << 2 << "slot Track";
    QTest::newRow("ffc") << "slotFFC" << 0.0 << "contrast" << 4 << "slot FFC";
    QTest::newRow("palette") << "slotPalette" << 0.0 << "contrast" << 5 << "slot Palette";
    QTest::newRow("zoom 1.25 rounds up") << "slotZoom" << 1.25 << "saturation" << 13 << "";
    QTest::newRow("zoom 1.24 rounds down") << "slotZoom" << 1.24 << "saturation" << 12 << "";
    QTest::newRow("zoom 4.0") << "slotZoom" << 4.0 << "saturation" << 40 << "";
    QTest::newRow("zoom 1.0") << "slotZoom" << 1.0 << "saturation" << 10 << "";
}

void CommandsTest::commandReachesTheCamera()
{
    QFETCH(QString, slot);
    QFETCH(double, zoom);
    QFETCH(QString, channel);
    QFETCH(int, value);
    QFETCH(QString, entryLine);

    SessionFixture fixture;
    MainControl *control = fixture.makeControl();
    // Open, but not capturing: commands still go through.
    QVERIFY(fixture.camera().open());
    LogCapture log;

    if (slot == "slotZoom")
        invokeZoom(control, zoom);
    else
        invoke(control, slot.toLatin1().constData());

    const QVector<int> received =
        channel == "contrast" ? fixture.camera().receivedContrast() : fixture.camera().receivedSaturation();
    QCOMPARE(received, QVector<int>{value});
    if (!entryLine.isEmpty())
        QCOMPARE(log.lines().first(), entryLine);
    QVERIFY(!log.contains("[Sync Protect]"));
}

void CommandsTest::closedCameraGetsNothing()
{
    SessionFixture fixture;
    MainControl *control = fixture.makeControl();
    LogCapture log;
    invoke(control, "slotFFC");
    invokeZoom(control, 2.0);
    invoke(control, "slotSyncDevice");
    QTest::qWait(700); // past the repeat delay: nothing was scheduled
    QCOMPARE(log.lines(), QStringList{"slot FFC"});
    QVERIFY(fixture.camera().receivedContrast().isEmpty());
    QVERIFY(fixture.camera().receivedSaturation().isEmpty());
}

void CommandsTest::commandDuringSlowRefreshIsRepeatedNotLost()
{
    SessionFixture fixture;
    MainControl *control = fixture.makeControl();
    QVERIFY(fixture.camera().open());
    fixture.camera().setRefreshDelay(1200);
    LogCapture log;

    invoke(control, "slotSyncDevice");
    QVERIFY(log.waitFor("Ready RefreshProperties", 5000));
    QTest::qWait(100); // the refresh now holds the lock inside the camera's slow refresh
    invoke(control, "slotPalette");
    QVERIFY(log.contains("[Sync Protect] ready repeat ...."));
    QVERIFY(fixture.camera().receivedContrast().isEmpty());

    // Repeated every 500 ms until the refresh lets go, then delivered exactly once.
    QTRY_COMPARE_WITH_TIMEOUT(fixture.camera().receivedContrast(), QVector<int>{5}, 5000);
    QVERIFY(log.matching("slot Palette").size() >= 2); // the repeat runs the whole slot again
    QTest::qWait(600);
    QCOMPARE(fixture.camera().receivedContrast(), QVector<int>{5});
}

void CommandsTest::commandsPostponeTheRefresh()
{
    SessionFixture fixture;
    MainControl *control = fixture.makeControl();
    QVERIFY(fixture.camera().open());
    LogCapture log;

    // Three commands 1.2 s apart: each restarts the 2 s refresh timer, so none runs meanwhile.
    for (int i = 0; i < 3; ++i) {
        invoke(control, "slotTrack");
        QTest::qWait(1200);
    }
    QVERIFY(!log.contains("Ready RefreshProperties"));
    // The refresh comes 2 s after the last command.
    QVERIFY(log.waitFor("Finish RefreshProperties", 4000));
    QCOMPARE(fixture.camera().receivedContrast(), (QVector<int>{2, 2, 2}));
}

void CommandsTest::refreshEmitsZoomThenSerialNumber()
{
    SessionFixture fixture;
    MainControl *control = fixture.makeControl();
    mainControl = control; // the controller that pool work posts to
    QVERIFY(fixture.camera().open());
    fixture.camera().setSerialNumber("TSIM-0042");
    invokeZoom(control, 1.3);

    QStringList order;
    connect(control, &MainControl::sigUpdateZoomValue, this,
            [&](double v) { order << QString("zoom %1").arg(v); });
    connect(control, &MainControl::sigUpdateSN, this, [&](const QString &sn) { order << "sn " + sn; });
    invoke(control, "slotSyncDevice");
    QTRY_COMPARE(order.size(), 2);
    QCOMPARE(order, (QStringList{"zoom 1.3", "sn TSIM-0042"}));

    // An empty serial number is still reported.
    order.clear();
    fixture.camera().setSerialNumber("");
    invoke(control, "slotSyncDevice");
    QTRY_COMPARE(order.size(), 2);
    QCOMPARE(order.last(), QString("sn "));
}

void CommandsTest::controllerDestroyedDuringRefreshReceivesNothing()
{
    SessionFixture fixture;
    MainControl *control = fixture.makeControl();
    mainControl = control;
    QVERIFY(fixture.camera().open());
    fixture.camera().setRefreshDelay(800);
    LogCapture log;

    invoke(control, "slotSyncDevice");
    invoke(control, "slotSyncDevice"); // a second run waits for the lock behind the first
    QVERIFY(log.waitFor("Ready RefreshProperties", 5000));
    fixture.control.reset(); // waits for the pool work; nothing is posted to the dead controller
    QCOMPARE(mainControl.load(), nullptr);
    QTest::qWait(200); // any queued call would run now and crash or trip the sanitizers
}

QTEST_GUILESS_MAIN(CommandsTest)
#include "tst_commands.moc"
