// The camera session end to end, as a user with a camera meets it: the controller with the V4L2
// camera library, the real player and the real frame provider, on the virtual UVC camera loaded into
// this process. The camera's journal says what reached it; its control channel pulls the cable, stalls
// it, refuses opens and slows its control reads.
#include "LogCapture.h"
#include "VirtualCameraProcess.h"

#include "app/AppGlobals.h"
#include "camera/MainControl.h"
#include "camera/UVCCameraSDK.h"
#include "media/FFmpegThread.h"
#include "presentation/FameProvider.h"

#include <QAbstractVideoSurface>
#include <QtTest>
#include <QVideoSurfaceFormat>

#include <fcntl.h>
#include <unistd.h>

namespace {
// A video surface that keeps the capture time the camera stamped into each frame it is shown
// (TARN_VCAM_STAMP: 64 blocks of 4 pixels in the top rows, most significant bit first).
class StampSurface : public QAbstractVideoSurface
{
public:
    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType) const override
    {
        return {QVideoFrame::Format_RGB32};
    }
    bool present(const QVideoFrame &frame) override
    {
        QVideoFrame copy(frame);
        quint64 stamp = 0;
        if (copy.map(QAbstractVideoBuffer::ReadOnly)) {
            const auto *row = reinterpret_cast<const QRgb *>(copy.bits() + copy.bytesPerLine());
            for (int bit = 0; bit < 64; ++bit)
                stamp = stamp << 1 | (qGray(row[bit * 4 + 2]) > 128);
            copy.unmap();
        }
        stamps << stamp;
        return true;
    }
    QList<quint64> stamps;
};

// Calls a slot of the controller as QML does; slotZoom gets zoom.
void invoke(QObject *object, const char *slot, double zoom = 0)
{
    QVERIFY2(qstrcmp(slot, "slotZoom")
                 ? QMetaObject::invokeMethod(object, slot, Qt::DirectConnection)
                 : QMetaObject::invokeMethod(object, slot, Qt::DirectConnection, Q_ARG(double, zoom)),
             slot);
}

// The control writes the camera received since the journal had skip lines.
QByteArrayList controlWrites(int skip)
{
    QByteArrayList writes;
    for (const QByteArray &line : VirtualCameraProcess::journal().mid(skip)) {
        if (line.startsWith("contrast ") || line.startsWith("saturation "))
            writes << line;
    }
    return writes;
}

// Sends a line to the camera's control channel and waits until the camera has carried it out.
bool command(const QByteArray &line)
{
    const int skip = VirtualCameraProcess::journal().size();
    return VirtualCameraProcess::send(line) &&
           QTest::qWaitFor(
               [&] { return VirtualCameraProcess::journal().mid(skip).contains("command " + line); }, 5000);
}

bool refreshHoldsTheLock()
{
    if (!syncMutex.tryLock())
        return true;
    syncMutex.unlock();
    return false;
}
} // namespace

class SessionVirtualCameraTest : public QObject
{
    Q_OBJECT

    StampSurface surface;
    std::unique_ptr<MainControl> control;
    int node = 0; // the camera comes back as the next node after each replug

    bool waitForFrames(int count, int timeoutMs = 20000)
    {
        const int target = surface.stamps.size() + count;
        return QTest::qWaitFor([&] { return surface.stamps.size() >= target; }, timeoutMs);
    }

private slots:
    void initTestCase()
    {
        // The camera listens for commands from the first open of its node.
        const int fd = ::open("/dev/video0", O_RDWR);
        QVERIFY(fd >= 0);
        ::close(fd);
        QTRY_VERIFY(VirtualCameraProcess::send("resume"));
    }
    void cleanupTestCase() { VirtualCameraProcess::removeControl(); }
    void init()
    {
        frameProvider->setVideoSurface(&surface);
        control = std::make_unique<MainControl>();
    }
    void cleanup()
    {
        control.reset();
        if (ffmpegThread->isRunning()) {
            ffmpegThread->stop();
            ffmpegThread->wait();
        }
        UVC_CAMERA_CloseUVC();
        frameProvider->setVideoSurface(nullptr);
        QVERIFY(command("slow-read 0") && command("fail 0 EBUSY"));
    }

    void searchOpensTheCameraAndFramesReachTheSurface()
    {
        LogCapture log;
        invoke(control.get(), "slotStartUVCConnect");
        QCOMPARE(mainControl.load(), control.get());
        QVERIFY(waitForFrames(10));

        QVERIFY(log.inOrder({"deviceName:", "description:", "position:", "slot Start Open UVC",
                             "Open UVC OK And Ready Start Capture", "setFormat ", "seturl "}));
        QVERIFY(log.contains("description: \"Tarn Thermal: UVC Camera\""));
        QVERIFY(log.contains("seturl  \"video=Tarn Thermal: UVC Camera|640x512\""));
        // The refresh runs right after the open, without waiting for its timer.
        QTRY_VERIFY(log.contains("GetSN:  \"TV2026A0001\""));

        // Live frames, in the order the camera took them.
        const QList<quint64> stamps = surface.stamps.mid(surface.stamps.size() - 10);
        for (int i = 1; i < stamps.size(); ++i)
            QVERIFY2(stamps[i] > stamps[i - 1], qPrintable(QString::number(i)));
        QCOMPARE(surface.surfaceFormat().frameSize(), QSize(640, 512));

        invoke(control.get(), "slotEndUVCConnect");
        QVERIFY(!ffmpegThread->isRunning());
        QVERIFY(!UVC_CAMERA_UVCIsOpen());
    }

    // How the frames are lost: a pulled cable (back as the next node), or a camera that keeps the
    // connection but stops sending.
    void lostFramesReconnect_data()
    {
        QTest::addColumn<QByteArray>("lose");
        QTest::addColumn<QByteArray>("restore");
        QTest::newRow("unplugged and plugged in again") << QByteArray("unplug") << QByteArray("plug");
        QTest::newRow("stalled, then sending again") << QByteArray("stall") << QByteArray("resume");
    }
    void lostFramesReconnect()
    {
        QFETCH(QByteArray, lose);
        QFETCH(QByteArray, restore);
        invoke(control.get(), "slotStartUVCConnect");
        QVERIFY(waitForFrames(5));

        LogCapture log;
        QVERIFY(command(lose));
        bool restored = false; // the camera comes back also when a check below fails
        const auto restoreCamera = [&] {
            node += !restored && lose == "unplug";
            restored = restored || command(restore);
        };
        const auto guard = qScopeGuard(restoreCamera);
        // Four silent ticks, then the session is torn down in this order.
        QVERIFY(log.waitFor("Finish stop Capture", 10000));
        QVERIFY(log.inOrder({"NO FRAME And Ready Reopn......................", "slot End UVC Connect",
                             "Ready stop Capture", "Finish stop Capture"}));
        QVERIFY(!ffmpegThread->isRunning());

        // The search starts again 100 ms later and finds the camera once it is back.
        const int before = surface.stamps.size();
        restoreCamera();
        QVERIFY(restored);
        QVERIFY(waitForFrames(5));
        QVERIFY(surface.stamps.size() > before);
        const int teardown = log.indexOf("Finish stop Capture");
        QVERIFY(log.indexOf(QString("deviceName: \"/dev/video%1\"").arg(node), teardown) > teardown);
        QVERIFY(log.indexOf("Open UVC OK And Ready Start Capture", teardown) > teardown);
    }

    void failedOpenSearchesAgain()
    {
        LogCapture log;
        QVERIFY(command("fail 2 EBUSY")); // the next two opens of the node
        invoke(control.get(), "slotStartUVCConnect");

        // Each failed open starts a new search, a tick later; the open after the last failure holds.
        QVERIFY(waitForFrames(3, 20000));
        QCOMPARE(log.matching("Open UVC Failure and ready search").size(), 2);
        const int failure = log.indexOf("Open UVC Failure and ready search");
        QVERIFY(log.indexOf("description:", failure) > failure);
        QVERIFY(log.indexOf("Open UVC OK And Ready Start Capture", failure) > failure);
    }

    void endWithNothingStartedOnlyClosesTheCamera()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        LogCapture log;
        invoke(control.get(), "slotEndUVCConnect");
        QCOMPARE(log.lines().filter(QRegularExpression("Capture|UVC Connect")),
                 (QStringList{"slot End UVC Connect", "Ready stop Capture", "Finish stop Capture"}));
        QVERIFY(!UVC_CAMERA_UVCIsOpen());
    }

    // Each row: a slot, its argument for slotZoom, the control write the camera receives and the line
    // the slot logs first.
    void commandReachesTheCamera_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<QByteArray>("write");
        QTest::addColumn<QString>("entryLine");
        QTest::newRow("record") << "slotRecord" << 0.0 << QByteArray("contrast 0") << "slot Record";
        QTest::newRow("track") << "slotTrack" << 0.0 << QByteArray("contrast 2") << "slot Track";
        QTest::newRow("ffc") << "slotFFC" << 0.0 << QByteArray("contrast 4") << "slot FFC";
        QTest::newRow("palette") << "slotPalette" << 0.0 << QByteArray("contrast 5") << "slot Palette";
        QTest::newRow("zoom 1.25 rounds up") << "slotZoom" << 1.25 << QByteArray("saturation 13") << "";
        QTest::newRow("zoom 1.24 rounds down") << "slotZoom" << 1.24 << QByteArray("saturation 12") << "";
        QTest::newRow("zoom 4.0") << "slotZoom" << 4.0 << QByteArray("saturation 40") << "";
        QTest::newRow("zoom 1.0") << "slotZoom" << 1.0 << QByteArray("saturation 10") << "";
    }
    void commandReachesTheCamera()
    {
        QFETCH(QString, slot);
        QFETCH(double, zoom);
        QFETCH(QByteArray, write);
        QFETCH(QString, entryLine);
        QVERIFY(UVC_CAMERA_OpenUVC()); // open, but not capturing: commands still go through
        const int skip = VirtualCameraProcess::journal().size();
        LogCapture log;

        invoke(control.get(), slot.toLatin1().constData(), zoom);

        QCOMPARE(controlWrites(skip), QByteArrayList{write});
        if (!entryLine.isEmpty())
            QCOMPARE(log.lines().first(), entryLine);
        QVERIFY(!log.contains("[Sync Protect]"));
    }

    void closedCameraGetsNothing()
    {
        const int skip = VirtualCameraProcess::journal().size();
        LogCapture log;
        invoke(control.get(), "slotFFC");
        invoke(control.get(), "slotZoom", 2.0);
        invoke(control.get(), "slotSyncDevice");
        QTimer pastRepeats; // twice the repeat delay, on the controller's event loop
        pastRepeats.setSingleShot(true);
        pastRepeats.start(2 * 500);
        QVERIFY(QTest::qWaitFor([&] { return !pastRepeats.isActive(); }, 10000));
        QCOMPARE(log.lines(), QStringList{"slot FFC"});
        QCOMPARE(VirtualCameraProcess::journal().mid(skip), QByteArrayList());
    }

    void commandDuringSlowRefreshIsRepeatedNotLost()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        QVERIFY(command("slow-read 600")); // a refresh reads two controls
        const int skip = VirtualCameraProcess::journal().size();
        LogCapture log;

        invoke(control.get(), "slotSyncDevice");
        QVERIFY(QTest::qWaitFor(refreshHoldsTheLock, 5000));
        invoke(control.get(), "slotPalette");
        QVERIFY(log.contains("[Sync Protect] ready repeat ...."));
        QVERIFY(controlWrites(skip).isEmpty());

        // Repeated every 500 ms until the refresh lets go, then delivered once.
        QTRY_COMPARE_WITH_TIMEOUT(controlWrites(skip), QByteArrayList{"contrast 5"}, 5000);
        QVERIFY(log.matching("slot Palette").size() >= 2); // the repeat runs the whole slot again
    }

    void commandsPostponeTheRefresh()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        const int skip = VirtualCameraProcess::journal().size();
        LogCapture log;

        // Two commands, the second when the refresh timer the first one started has 0.8 s left (read
        // from that timer): it starts the timer again, so that refresh never comes; the next comes 2 s
        // after the last command.
        invoke(control.get(), "slotTrack");
        const QList<QTimer *> timers = control->findChildren<QTimer *>();
        const auto refresh = std::find_if(timers.begin(), timers.end(),
                                          [](QTimer *t) { return t->isActive() && t->interval() == 2000; });
        QVERIFY(refresh != timers.end());
        QVERIFY(QTest::qWaitFor([&] { return (*refresh)->remainingTime() <= 800; }, 5000));
        invoke(control.get(), "slotTrack");
        QElapsedTimer sinceLast;
        sinceLast.start();
        QVERIFY(!log.contains("Ready RefreshProperties"));
        QVERIFY(log.waitFor("Ready RefreshProperties", 5000));
        QVERIFY2(sinceLast.elapsed() >= 2000 * 95 / 100, qPrintable(QString::number(sinceLast.elapsed())));
        QCOMPARE(controlWrites(skip), (QByteArrayList{"contrast 2", "contrast 2"}));
    }

    void refreshEmitsZoomThenSerialNumber()
    {
        mainControl = control.get(); // the controller that pool work posts to
        QVERIFY(UVC_CAMERA_OpenUVC());
        invoke(control.get(), "slotZoom", 1.3);
        QStringList order;
        connect(control.get(), &MainControl::sigUpdateZoomValue, this,
                [&](double v) { order << QString("zoom %1").arg(v); });
        connect(control.get(), &MainControl::sigUpdateSN, this,
                [&](const QString &sn) { order << "sn " + sn; });

        // Both after every refresh, changed or not.
        invoke(control.get(), "slotSyncDevice");
        QTRY_COMPARE(order.size(), 2);
        invoke(control.get(), "slotSyncDevice");
        QTRY_COMPARE(order.size(), 4);
        QCOMPARE(order, (QStringList{"zoom 1.3", "sn TV2026A0001", "zoom 1.3", "sn TV2026A0001"}));
    }

    void controllerDestroyedDuringRefreshReceivesNothing()
    {
        mainControl = control.get();
        QVERIFY(UVC_CAMERA_OpenUVC());
        QVERIFY(command("slow-read 400"));
        invoke(control.get(), "slotSyncDevice");
        invoke(control.get(), "slotSyncDevice"); // a second run waits for the lock behind the first
        QVERIFY(QTest::qWaitFor(refreshHoldsTheLock, 5000));
        control.reset(); // waits for the pool work; nothing is posted to the dead controller
        QCOMPARE(mainControl.load(), nullptr);
        // A queued call would run now and crash or trip the sanitizers.
        QCoreApplication::sendPostedEvents();
    }
};

int main(int argc, char **argv)
{
    qputenv("TARN_VCAM_STAMP", "1");
    VirtualCameraProcess::load(argv, 0);
    QCoreApplication app(argc, argv);
    SessionVirtualCameraTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_session_vcam.moc"
