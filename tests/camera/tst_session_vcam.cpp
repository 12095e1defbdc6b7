// The camera session end to end, as a user with a camera meets it: the controller with the V4L2
// camera library, the real player and the real frame provider, on the virtual UVC camera loaded into
// this process. The camera's journal says what reached it; its control channel pulls the cable, stalls
// it, refuses opens and slows its opens and control reads.
#include "CountingSurface.h"
#include "LogCapture.h"
#include "VirtualCameraProcess.h"

#include "app/AppGlobals.h"
#include "camera/MainControl.h"
#include "camera/UVCCameraSDK.h"
#include "media/FFmpegThread.h"
#include "presentation/FameProvider.h"

#include <QDir>
#include <QThreadPool>
#include <QtTest>
#include <QVideoSurfaceFormat>

#include <cerrno>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// Calls a slot of the controller as QML does; slotZoom gets zoom.
void invoke(QObject *object, const char *slot, double zoom = 0)
{
    QVERIFY2(qstrcmp(slot, "slotZoom")
                 ? QMetaObject::invokeMethod(object, slot, Qt::DirectConnection)
                 : QMetaObject::invokeMethod(object, slot, Qt::DirectConnection, Q_ARG(double, zoom)),
             slot);
}

// Sends a line to the camera's control channel and waits until the camera has carried it out.
bool command(const QByteArray &line)
{
    const int skip = VirtualCameraProcess::journal().size();
    return VirtualCameraProcess::send(line) &&
           QTest::qWaitFor(
               [&] { return VirtualCameraProcess::journal().mid(skip).contains("command " + line); }, 5000);
}

// The descriptors this process holds on the camera: on the node plugged in now, and on nodes whose
// cable was pulled since (the camera answers those with ENODEV; anything else answers ENOTTY).
struct CameraDescriptors
{
    int live = 0;
    int stale = 0;

    CameraDescriptors()
    {
        for (const QString &name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System)) {
            v4l2_capability cap;
            if (::ioctl(name.toInt(), VIDIOC_QUERYCAP, &cap) == 0)
                ++live;
            else if (errno == ENODEV)
                ++stale;
        }
    }
};

// True while a thread of the global pool sleeps: here, the open worker inside the camera's slow open, or
// a refresh inside a slow control read, holding the lock that commands try.
bool poolThreadSleepsInTheCamera()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        QFile call(tasks.filePath(task + QStringLiteral("/syscall")));
        if (!name.open(QIODevice::ReadOnly) || !name.readAll().startsWith("Thread (pooled)") ||
            !call.open(QIODevice::ReadOnly))
            continue;
        const long number = call.readAll().split(' ').value(0).toLong();
        if (number == SYS_nanosleep || number == SYS_clock_nanosleep)
            return true;
    }
    return false;
}
} // namespace

class SessionVirtualCameraTest : public QObject
{
    Q_OBJECT

    CountingSurface surface;
    std::unique_ptr<MainControl> control;

    bool waitForFrames(int count, int timeoutMs = 20000)
    {
        const int target = surface.presented + count;
        return QTest::qWaitFor([&] { return surface.presented >= target; }, timeoutMs);
    }

private slots:
    void initTestCase()
    {
        // The camera listens for commands from the first open of its node.
        ::close(::open("/dev/video0", O_RDWR));
        QTRY_VERIFY(VirtualCameraProcess::send("resume"));
    }
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
        // The camera as it was, also after a failed check.
        for (const char *line : {"slow-read 0", "slow-open 0", "fail 0 EBUSY", "resume"})
            QVERIFY(command(line));
    }

    // A session on a camera that refuses a few opens, or whose cable flaps once the picture is live: the
    // search finds it, the picture arrives at the size the library read, and in the end exactly one session
    // holds the camera (the library's open and the player's).
    void sessionSettlesOnOne_data()
    {
        QTest::addColumn<int>("refused"); // opens of the node the camera refuses with EBUSY
        QTest::addColumn<int>("flaps");   // unplug/plug pairs, 200 ms apart, once the picture is live
        QTest::newRow("refuses five opens") << 5 << 0;
        QTest::newRow("cable flaps ten times") << 0 << 10;
    }
    void sessionSettlesOnOne()
    {
        QFETCH(int, refused);
        QFETCH(int, flaps);
        LogCapture log;
        QVERIFY(command("fail " + QByteArray::number(refused) + " EBUSY"));
        invoke(control.get(), "slotStartUVCConnect");
        QVERIFY(waitForFrames(5));
        // The refresh runs right after the open, without waiting for its timer.
        QVERIFY(log.contains("GetSN:  \"TV2026A0001\""));

        // The flapping cable is the input: a timer sends its 200 ms cadence.
        int sent = 0;
        QTimer cable;
        connect(&cable, &QTimer::timeout, [&] {
            if (VirtualCameraProcess::send(sent % 2 == 0 ? "unplug" : "plug") && ++sent == 2 * flaps)
                cable.stop();
        });
        if (flaps > 0) {
            cable.start(200);
            QTRY_VERIFY_WITH_TIMEOUT(!cable.isActive(), 10000);
        }

        QTRY_VERIFY_WITH_TIMEOUT(ffmpegThread->isRunning() && CameraDescriptors().live == 2 &&
                                     CameraDescriptors().stale == 0,
                                 20000);
        QVERIFY(waitForFrames(25, 10000));
        QCOMPARE(CameraDescriptors().live, 2);
        QCOMPARE(CameraDescriptors().stale, 0);
        QCOMPARE(surface.surfaceFormat().frameSize(), QSize(640, 512));

        QVERIFY(log.inOrder({"deviceName:", "description:", "position:", "slot Start Open UVC",
                             "Open UVC OK And Ready Start Capture", "setFormat ", "seturl "}));
        QVERIFY(log.contains("description: \"Tarn Thermal: UVC Camera\""));
        QVERIFY(log.contains("seturl  \"video=Tarn Thermal: UVC Camera|640x512\""));
        // A refused open of the library is reported, and a new search follows it. Qt's camera listing
        // opens the nodes too (the metadata node among them), so some refusals are its own.
        const int reported = log.matching("Open UVC Failure and ready search").size();
        QVERIFY2(reported >= qMin(refused, 1) && reported <= refused, qPrintable(QString::number(reported)));
        const int failure = log.indexOf("Open UVC Failure and ready search");
        QVERIFY(failure < 0 || log.indexOf("description:", failure) > failure);

        invoke(control.get(), "slotEndUVCConnect");
        QVERIFY(!ffmpegThread->isRunning());
        QCOMPARE(CameraDescriptors().live + CameraDescriptors().stale, 0);
    }

    // A camera that keeps the connection but stops sending: four silent ticks, then the session is torn
    // down in this order; the search starts again 100 ms later and finds the camera once it sends again.
    void silentCameraIsReopened()
    {
        invoke(control.get(), "slotStartUVCConnect");
        QVERIFY(waitForFrames(5));
        LogCapture log;
        QVERIFY(command("stall"));
        QVERIFY(log.waitFor("Finish stop Capture", 10000));
        QVERIFY(log.inOrder({"NO FRAME And Ready Reopn......................", "slot End UVC Connect",
                             "Ready stop Capture", "Finish stop Capture"}));
        QVERIFY(!ffmpegThread->isRunning());

        QVERIFY(command("resume"));
        QVERIFY(waitForFrames(5));
        const int teardown = log.indexOf("Finish stop Capture");
        QVERIFY(log.indexOf("deviceName:", teardown) > teardown);
        QVERIFY(log.indexOf("Open UVC OK And Ready Start Capture", teardown) > teardown);
    }

    // Each row: a slot, its argument for slotZoom, the control write the camera receives (none: the row
    // runs on a closed camera; else on an open one that is not capturing) and the lines logged, also
    // once a repeat would have come.
    void commandReachesTheCamera_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<QByteArray>("write");
        QTest::addColumn<QString>("line");
        QTest::newRow("record") << "slotRecord" << 0.0 << QByteArray("contrast 0") << "slot Record";
        QTest::newRow("track") << "slotTrack" << 0.0 << QByteArray("contrast 2") << "slot Track";
        QTest::newRow("ffc") << "slotFFC" << 0.0 << QByteArray("contrast 4") << "slot FFC";
        QTest::newRow("palette") << "slotPalette" << 0.0 << QByteArray("contrast 5") << "slot Palette";
        QTest::newRow("zoom 1.25 rounds up") << "slotZoom" << 1.25 << QByteArray("saturation 13") << "";
        QTest::newRow("zoom 1.24 rounds down") << "slotZoom" << 1.24 << QByteArray("saturation 12") << "";
        QTest::newRow("zoom 4.0") << "slotZoom" << 4.0 << QByteArray("saturation 40") << "";
        QTest::newRow("zoom 1.0") << "slotZoom" << 1.0 << QByteArray("saturation 10") << "";
        QTest::newRow("ffc, camera closed") << "slotFFC" << 0.0 << QByteArray() << "slot FFC";
        QTest::newRow("refresh, camera closed") << "slotSyncDevice" << 0.0 << QByteArray() << "";
    }
    void commandReachesTheCamera()
    {
        QFETCH(QString, slot);
        QFETCH(double, zoom);
        QFETCH(QByteArray, write);
        QFETCH(QString, line);
        QVERIFY(write.isEmpty() || UVC_CAMERA_OpenUVC());
        const int skip = VirtualCameraProcess::journal().size();
        LogCapture log;

        invoke(control.get(), slot.toLatin1().constData(), zoom);
        QTimer pastRepeat; // on the controller's event loop, due after a repeat would be
        pastRepeat.setSingleShot(true);
        pastRepeat.start(600);
        QVERIFY(QTest::qWaitFor([&] { return !pastRepeat.isActive(); }, 10000));

        QCOMPARE(VirtualCameraProcess::journal().mid(skip),
                 write.isEmpty() ? QByteArrayList() : QByteArrayList{write});
        QCOMPARE(log.lines(), line.isEmpty() ? QStringList() : QStringList{line});
    }

    void commandDuringSlowRefreshIsRepeatedNotLost()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        QVERIFY(command("slow-read 600")); // a refresh reads two controls
        const int skip = VirtualCameraProcess::journal().size();
        LogCapture log;

        invoke(control.get(), "slotSyncDevice");
        QVERIFY(QTest::qWaitFor(poolThreadSleepsInTheCamera, 5000));
        invoke(control.get(), "slotPalette");
        QVERIFY(log.contains("[Sync Protect] ready repeat ...."));
        QVERIFY(VirtualCameraProcess::journal().mid(skip).isEmpty());

        // Repeated every 500 ms until the refresh lets go, then delivered once.
        QTRY_COMPARE_WITH_TIMEOUT(VirtualCameraProcess::journal().mid(skip), QByteArrayList{"contrast 5"},
                                  5000);
        QVERIFY(log.matching("slot Palette").size() >= 2); // the repeat runs the whole slot again
    }

    // Two commands, the second when the refresh timer the first one started has 0.8 s left (read from that
    // timer): it starts the timer again, so that refresh never comes; the next comes 2 s after the last
    // command. Every refresh, changed or not, emits the zoom factor and then the serial number.
    void commandsPostponeTheRefresh()
    {
        mainControl = control.get(); // the controller that pool work posts to
        QVERIFY(UVC_CAMERA_OpenUVC());
        const int skip = VirtualCameraProcess::journal().size();
        LogCapture log;
        QStringList emitted;
        connect(control.get(), &MainControl::sigUpdateZoomValue, this,
                [&](double v) { emitted << QString("zoom %1").arg(v); });
        connect(control.get(), &MainControl::sigUpdateSN, this,
                [&](const QString &sn) { emitted << "sn " + sn; });

        invoke(control.get(), "slotZoom", 1.3);
        const QList<QTimer *> timers = control->findChildren<QTimer *>();
        const auto refresh = std::find_if(timers.begin(), timers.end(),
                                          [](QTimer *t) { return t->isActive() && t->interval() == 2000; });
        QVERIFY(refresh != timers.end());
        QVERIFY(QTest::qWaitFor([&] { return (*refresh)->remainingTime() <= 800; }, 5000));
        invoke(control.get(), "slotZoom", 1.3);
        QElapsedTimer sinceLast;
        sinceLast.start();
        QVERIFY(!log.contains("Ready RefreshProperties"));
        QVERIFY(log.waitFor("Ready RefreshProperties", 5000));
        QVERIFY2(sinceLast.elapsed() >= 2000 * 95 / 100, qPrintable(QString::number(sinceLast.elapsed())));
        QCOMPARE(VirtualCameraProcess::journal().mid(skip),
                 (QByteArrayList{"saturation 13", "saturation 13"}));

        QTRY_COMPARE(emitted.size(), 2);
        invoke(control.get(), "slotSyncDevice");
        QTRY_COMPARE(emitted.size(), 4);
        QCOMPARE(emitted, (QStringList{"zoom 1.3", "sn TV2026A0001", "zoom 1.3", "sn TV2026A0001"}));
    }

    void controllerDestroyedDuringRefreshReceivesNothing()
    {
        mainControl = control.get();
        QVERIFY(UVC_CAMERA_OpenUVC());
        QVERIFY(command("slow-read 400"));
        invoke(control.get(), "slotSyncDevice");
        invoke(control.get(), "slotSyncDevice"); // a second run waits for the lock behind the first
        QVERIFY(QTest::qWaitFor(poolThreadSleepsInTheCamera, 5000));
        control.reset(); // waits for the pool work; nothing is posted to the dead controller
        QCOMPARE(mainControl.load(), nullptr);
        // A queued call would run now and crash or trip the sanitizers.
        QCoreApplication::sendPostedEvents();
    }

    // The window ends the session (or the controller goes) while the open worker is still inside a slow
    // open: everything returns, the open's late result starts no session and leaves the camera closed.
    void sessionGoesDuringSlowOpen_data()
    {
        QTest::addColumn<bool>("endFirst");
        QTest::newRow("session ended, then controller destroyed") << true;
        QTest::newRow("controller destroyed") << false;
    }
    void sessionGoesDuringSlowOpen()
    {
        QFETCH(bool, endFirst);
        LogCapture log;
        QVERIFY(command("slow-open 1500"));
        invoke(control.get(), "slotStartUVCConnect");
        QTRY_VERIFY_WITH_TIMEOUT(poolThreadSleepsInTheCamera(), 5000);

        // Once the open worker is done, what it posted is delivered, to whatever is still there.
        const auto settle = [] {
            const bool done = QThreadPool::globalInstance()->waitForDone(10000);
            QCoreApplication::sendPostedEvents();
            return done;
        };
        if (endFirst) {
            invoke(control.get(), "slotEndUVCConnect");
            QVERIFY(settle());
        }
        control.reset();
        QVERIFY(settle());

        QVERIFY(log.contains("Open UVC OK And Ready Start Capture"));
        QVERIFY(!log.contains("seturl"));
        QVERIFY(!ffmpegThread->isRunning());
        QVERIFY(!UVC_CAMERA_UVCIsOpen());
        QCOMPARE(CameraDescriptors().live, 0);
    }
};

int main(int argc, char **argv)
{
    VirtualCameraProcess::load(argv, 0);
    QCoreApplication app(argc, argv);
    SessionVirtualCameraTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_session_vcam.moc"
