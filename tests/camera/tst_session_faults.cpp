// The session controller, the player, the frame provider and the V4L2 camera library on the virtual UVC
// camera loaded into this process, when the camera misbehaves: it takes long to open while the session
// goes away, it refuses a few opens, its cable flaps.
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
#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// The descriptors this process holds on the camera: on the node plugged in now, and on nodes whose
// cable was pulled since (the camera answers those with ENODEV; anything else answers ENOTTY).
struct CameraDescriptors
{
    int live = 0;
    int stale = 0;

    static CameraDescriptors now()
    {
        CameraDescriptors held;
        const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System);
        for (const QString &name : fds) {
            v4l2_capability cap;
            if (::ioctl(name.toInt(), VIDIOC_QUERYCAP, &cap) == 0)
                ++held.live;
            else if (errno == ENODEV)
                ++held.stale;
        }
        return held;
    }
};

// True while a thread of the global pool sleeps: here, the open worker inside the camera's slow open.
bool openWorkerInSlowOpen()
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

// Opens of the node the camera refused, among the lines of its journal.
int refusedOpens(const QByteArrayList &journal)
{
    return int(std::count_if(journal.begin(), journal.end(), [](const QByteArray &line) {
        return line.startsWith("open video") && !line.endsWith(" ok");
    }));
}
} // namespace

class SessionFaultsTest : public QObject
{
    Q_OBJECT

    CountingSurface surface;
    std::unique_ptr<LogCapture> log;
    int journalBefore = 0;
    std::unique_ptr<MainControl> control;

    bool waitForPictures(int count, int timeoutMs)
    {
        const int target = surface.presented + count;
        return QTest::qWaitFor([&] { return surface.presented >= target; }, timeoutMs);
    }

    static bool invoke(MainControl *control, const char *slot)
    {
        return QMetaObject::invokeMethod(control, slot, Qt::DirectConnection);
    }

private slots:
    void initTestCase()
    {
        frameProvider->setVideoSurface(&surface);
        // The camera takes commands from its first open on.
        ::close(::open("/dev/video0", O_RDWR));
        QTRY_VERIFY(VirtualCameraProcess::send("resume"));
    }

    void cleanupTestCase()
    {
        frameProvider->setVideoSurface(nullptr);
        VirtualCameraProcess::removeControl();
    }

    // Each case: the camera's fault set (the "fault" column, a control line), then a session started.
    void init()
    {
        QFETCH(QByteArray, fault);
        log = std::make_unique<LogCapture>();
        journalBefore = int(VirtualCameraProcess::journal().size());
        if (!fault.isEmpty())
            QVERIFY(VirtualCameraProcess::send(fault));
        control = std::make_unique<MainControl>();
        QVERIFY(invoke(control.get(), "slotStartUVCConnect"));
    }

    // Also after a failed check: the next case starts from a closed camera and a stopped player.
    void cleanup()
    {
        if (control)
            QVERIFY(invoke(control.get(), "slotEndUVCConnect"));
        control.reset();
        log.reset();
        QVERIFY(VirtualCameraProcess::send("slow-open 0"));
    }

    // The window ends the session (or the controller goes) while the open worker is still inside a slow
    // open: everything returns, the open's late result starts no session and leaves the camera closed.
    void sessionGoesDuringSlowOpen_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<bool>("endFirst");
        QTest::newRow("session ended, then controller destroyed") << QByteArray("slow-open 1500") << true;
        QTest::newRow("controller destroyed") << QByteArray("slow-open 1500") << false;
    }
    void sessionGoesDuringSlowOpen()
    {
        QFETCH(bool, endFirst);
        QTRY_VERIFY_WITH_TIMEOUT(openWorkerInSlowOpen(), 5000);

        // Once the open worker is done, what it posted is delivered, to whatever is still there.
        const auto settle = [] {
            const bool done = QThreadPool::globalInstance()->waitForDone(10000);
            QCoreApplication::sendPostedEvents();
            return done;
        };
        if (endFirst) {
            QVERIFY(invoke(control.get(), "slotEndUVCConnect"));
            QVERIFY(settle());
        }
        control.reset();
        QVERIFY(settle());

        QVERIFY(log->contains("Open UVC OK And Ready Start Capture"));
        QVERIFY(!log->contains("seturl"));
        QVERIFY(!ffmpegThread->isRunning());
        QVERIFY(!UVC_CAMERA_UVCIsOpen());
        QCOMPARE(CameraDescriptors::now().live, 0);
    }

    // The camera misbehaves for a while; afterwards exactly one session holds it (the library's open and
    // the player's) and the picture is live.
    void sessionSettlesOnOneAfterFaults_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<int>("flaps"); // unplug/plug pairs, 200 ms apart, once the picture is live
        QTest::addColumn<QString>("reportedOnce"); // the log line the refusals give, once for them all
        QTest::addColumn<int>("refused");          // opens of the node the camera refused
        QTest::newRow("refuses five opens")
            << QByteArray("fail 5 EBUSY") << 0 << QStringLiteral("busy: another program is using the camera")
            << 5;
        QTest::newRow("cable flaps ten times") << QByteArray() << 10 << QString() << 0;
    }
    void sessionSettlesOnOneAfterFaults()
    {
        QFETCH(int, flaps);
        QFETCH(QString, reportedOnce);
        QFETCH(int, refused);
        QVERIFY(waitForPictures(5, 20000));

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

        QTRY_VERIFY_WITH_TIMEOUT(ffmpegThread->isRunning() && CameraDescriptors::now().live == 2 &&
                                     CameraDescriptors::now().stale == 0,
                                 20000);
        QVERIFY(waitForPictures(25, 10000));
        QCOMPARE(CameraDescriptors::now().live, 2);
        QCOMPARE(CameraDescriptors::now().stale, 0);
        if (!reportedOnce.isEmpty())
            QCOMPARE(log->matching(reportedOnce).size(), 1);
        QCOMPARE(refusedOpens(VirtualCameraProcess::journal().mid(journalBefore)), refused);

        QVERIFY(invoke(control.get(), "slotEndUVCConnect"));
        control.reset();
        QCOMPARE(CameraDescriptors::now().live + CameraDescriptors::now().stale, 0);
    }
};

int main(int argc, char **argv)
{
    VirtualCameraProcess::load(argv, 0);
    QCoreApplication app(argc, argv);
    SessionFaultsTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_session_faults.moc"
