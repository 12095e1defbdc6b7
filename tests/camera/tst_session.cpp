// The camera session end to end: the controller finds the simulated camera, opens it, runs the real
// player on its stream and shows the frames on the provider's surface; it reconnects when the frames
// stop, whatever the reason.

#include "LogCapture.h"
#include "SessionFixture.h"

class SessionTest : public QObject
{
    Q_OBJECT

private slots:
    void searchOpensTheCameraAndFramesReachTheSurface();
    void lostFramesReconnect_data();
    void lostFramesReconnect();
    void failedOpenSearchesAgain();
    void endWithNothingStartedOnlyClosesTheCamera();
};

void SessionTest::searchOpensTheCameraAndFramesReachTheSurface()
{
    SessionFixture fixture;
    LogCapture log;
    MainControl *control = fixture.makeControl();
    QVERIFY(log.contains("UVC_CAMERA_GetSDKVersion: "));

    invoke(control, "slotStartUVCConnect");
    QCOMPARE(mainControl.load(), control);
    QVERIFY(fixture.waitForFrames(10));

    QVERIFY(log.inOrder({"deviceName:", "description:", "position:", "slot Start Open UVC",
                         "Open UVC OK And Ready Start Capture", "setFormat ", "seturl "}));
    QVERIFY(log.contains("\"UVC Camera\""));
    QVERIFY(log.contains("QCamera::UnspecifiedPosition"));
    QVERIFY2(log.matching("seturl ").first().contains("video=UVC Camera|640x512"),
             qPrintable(log.matching("seturl ").first()));
    // The refresh runs right after the open, without waiting for its timer.
    QTRY_VERIFY(log.contains("GetSN: "));

    // Live frames, in order: the camera's own frame numbers, rising.
    const QList<int> numbers = fixture.surface.frameNumbers.mid(fixture.surface.frameNumbers.size() - 10);
    QVERIFY2(!numbers.contains(-1), "a presented frame lost its number");
    for (int i = 1; i < numbers.size(); ++i)
        QVERIFY(numbers[i] > numbers[i - 1]);
    QCOMPARE(fixture.surface.surfaceFormat().frameSize(), QSize(640, 512));

    invoke(control, "slotEndUVCConnect");
    QVERIFY(!ffmpegThread->isRunning());
    QVERIFY(!fixture.camera().isOpen());
}

// How the frames are lost: pulled cable, or a camera that keeps the connection but stops sending.
void SessionTest::lostFramesReconnect_data()
{
    QTest::addColumn<bool>("unplug");
    QTest::newRow("unplugged and plugged in again") << true;
    QTest::newRow("stalled, then sending again") << false;
}

void SessionTest::lostFramesReconnect()
{
    QFETCH(bool, unplug);
    SessionFixture fixture;
    LogCapture log;
    MainControl *control = fixture.makeControl();
    invoke(control, "slotStartUVCConnect");
    QVERIFY(fixture.waitForFrames(5));

    log.clear();
    if (unplug)
        fixture.camera().unplug();
    else
        fixture.camera().setStalled(true);

    // Four silent ticks, then the session is torn down in this order.
    QVERIFY(log.waitFor("Finish stop Capture", 10000));
    QVERIFY(log.inOrder({"NO FRAME And Ready Reopn......................", "slot End UVC Connect",
                         "Ready stop Capture", "Finish stop Capture"}));
    QVERIFY(!ffmpegThread->isRunning());

    // The search starts again 100 ms later; a camera that is back is found and shows frames again.
    if (unplug)
        QTest::qWait(1500); // a search tick or two with nothing to find
    const int before = fixture.surface.frameNumbers.size();
    if (unplug)
        fixture.camera().replug();
    else
        fixture.camera().setStalled(false);
    QVERIFY(fixture.waitForFrames(5, 20000));
    QVERIFY(fixture.surface.frameNumbers.size() > before);
    QVERIFY(log.indexOf("Open UVC OK And Ready Start Capture", log.indexOf("Finish stop Capture")) > 0);

    invoke(control, "slotEndUVCConnect");
}

void SessionTest::failedOpenSearchesAgain()
{
    SessionFixture fixture;
    LogCapture log;
    fixture.camera().failNextOpen();
    MainControl *control = fixture.makeControl();
    invoke(control, "slotStartUVCConnect");

    QVERIFY(log.waitFor("Open UVC Failure and ready search", 10000));
    const int failure = log.indexOf("Open UVC Failure and ready search");
    // A new search one tick later finds the camera again, and this open goes through.
    QVERIFY(fixture.waitForFrames(3, 20000));
    QVERIFY(log.indexOf("description:", failure) > failure);
    QVERIFY(log.indexOf("Open UVC OK And Ready Start Capture", failure) > failure);

    invoke(control, "slotEndUVCConnect");
}

void SessionTest::endWithNothingStartedOnlyClosesTheCamera()
{
    SessionFixture fixture;
    LogCapture log;
    MainControl *control = fixture.makeControl();
    QVERIFY(fixture.camera().open());
    invoke(control, "slotEndUVCConnect");
    QCOMPARE(log.lines().filter(QRegularExpression("Capture|UVC Connect")),
             (QStringList{"slot End UVC Connect", "Ready stop Capture", "Finish stop Capture"}));
    QVERIFY(!fixture.camera().isOpen());
}

QTEST_GUILESS_MAIN(SessionTest)
#include "tst_session.moc"
