// The V4L2 camera library against the virtual UVC camera loaded into this process: the node, its
// sysfs facts and its ioctls are what a real uvcvideo camera shows.
#include "VirtualCameraProcess.h"

#include "camera/UVCCameraSDK.h"
#include "capture/CameraName.h"

#include <QDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <thread>

namespace {
constexpr int kNode = 70; // each camera test has nodes of its own: the camera's state is per machine

// Node handles this process holds: the virtual camera hands out an eventfd per open.
int openHandles()
{
    int count = 0;
    for (const QFileInfo &fd : QDir("/proc/self/fd").entryInfoList(QDir::System))
        count += fd.symLinkTarget().contains("eventfd");
    return count;
}

int opensSeen()
{
    return int(VirtualCameraProcess::journal().count("open video" + QByteArray::number(kNode) + " ok"));
}
} // namespace

class V4l2DeviceTest : public QObject
{
    Q_OBJECT

private slots:
    // The camera listens for control lines from the first open of its node: any function may run first.
    void initTestCase() { QVERIFY(VirtualCameraProcess::listen(kNode)); }
    void init() { UVC_CAMERA_SelectUVCCamera("UVC Camera"); }
    void cleanup()
    {
        UVC_CAMERA_CloseUVC();
        qunsetenv("TARN_VCAM_FAULT");
    }

    // The card names uvcvideo gives, against the name the viewer looks for by default.
    void cameraName_matchesTheNamesUvcvideoGives_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<bool>("matches");
        QTest::newRow("product: function") << "Tarn Thermal: UVC Camera"
                                           << "UVC Camera" << true;
        QTest::newRow("no product string") << "UVC Camera (1209:0001)"
                                           << "UVC Camera" << true;
        QTest::newRow("cut at 31 in the function") << "Tarn Thermal Imager Core: UVC C"
                                                   << "UVC Camera" << true;
        QTest::newRow("cut at 31, whole name wanted") << "Tarn Wide Angle Conference Came"
                                                      << "Tarn Wide Angle Conference Camera" << true;
        QTest::newRow("short name is not cut") << "Tarn Thermal: UVC C"
                                               << "UVC Camera" << false;
        QTest::newRow("another function") << "USB Camera: USB Camera"
                                          << "UVC Camera" << false;
        QTest::newRow("case differs") << "Tarn Thermal: uvc camera"
                                      << "UVC Camera" << false;
    }
    void cameraName_matchesTheNamesUvcvideoGives()
    {
        QFETCH(QString, card);
        QFETCH(QString, wanted);
        QFETCH(bool, matches);
        QCOMPARE(CameraName::matches(card, wanted), matches);
    }

    void open_findsTheCardNameOrThePartAfterItsLastColon_data()
    {
        QTest::addColumn<QByteArray>("wanted");
        QTest::addColumn<bool>("opens");
        QTest::newRow("whole card name") << QByteArray("Tarn Thermal: UVC Camera") << true;
        QTest::newRow("case differs") << QByteArray("uvc camera") << false;
        QTest::newRow("product name") << QByteArray("Tarn Thermal") << false;
        QTest::newRow("part of the function") << QByteArray("Camera") << false;
    }
    void open_findsTheCardNameOrThePartAfterItsLastColon()
    {
        QFETCH(QByteArray, wanted);
        QFETCH(bool, opens);
        UVC_CAMERA_SelectUVCCamera(wanted.constData());
        QCOMPARE(UVC_CAMERA_OpenUVC(), opens);
    }

    // Each search tries the node again and keeps why it failed; the camera sees every attempt.
    void open_keepsWhyTheNodeCannotBeOpened_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<int>("error");
        QTest::newRow("EACCES") << QByteArray("EACCES") << EACCES;
        QTest::newRow("EBUSY") << QByteArray("EBUSY") << EBUSY;
    }
    void open_keepsWhyTheNodeCannotBeOpened()
    {
        QFETCH(QByteArray, fault);
        QFETCH(int, error);
        const int seen = VirtualCameraProcess::journal().size();
        qputenv("TARN_VCAM_FAULT", fault);
        for (int search = 0; search < 3; ++search) {
            QVERIFY(!UVC_CAMERA_OpenUVC());
            QCOMPARE(UVC_CAMERA_GetLastError(), error);
        }
        QCOMPARE(VirtualCameraProcess::journal().mid(seen).count("open video" + QByteArray::number(kNode) +
                                                                 ' ' + fault),
                 3);
        qunsetenv("TARN_VCAM_FAULT");
        QVERIFY(UVC_CAMERA_OpenUVC());
        QCOMPARE(UVC_CAMERA_GetLastError(), 0);
    }

    // A zoom below 1.0X, outside the camera's range 10..40, is not sent.
    void command_outsideTheRangeIsNotSent()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        const int seen = VirtualCameraProcess::journal().size();
        QCOMPARE(UVC_CAMERA_SetSaturation(9), -ERANGE);
        QCOMPARE(VirtualCameraProcess::journal().size(), seen);
    }

    void closedCamera_sendsNothingAndReopenTakesTheNodeAgain()
    {
        const int handles = openHandles(), opens = opensSeen();
        QCOMPARE(UVC_CAMERA_SetContrast(5), -ENODEV);
        QCOMPARE(UVC_CAMERA_RefreshProperties(), -1);
        QCOMPARE(opensSeen(), opens);
        QVERIFY(UVC_CAMERA_OpenUVC());
        QVERIFY(UVC_CAMERA_OpenUVC()); // already open: nothing more is opened
        QCOMPARE(openHandles(), handles + 1);
        UVC_CAMERA_CloseUVC();
        UVC_CAMERA_CloseUVC(); // closing twice is harmless
        QCOMPARE(openHandles(), handles);
        QCOMPARE(UVC_CAMERA_GetWidth(), 0);
        QCOMPARE(QByteArray(UVC_CAMERA_GetFriendlyName()), QByteArray());
        QVERIFY(UVC_CAMERA_OpenUVC());
        QCOMPARE(UVC_CAMERA_GetWidth(), 640);
        QCOMPARE(opensSeen(), opens + 2);
        // Selecting a camera that is not there takes effect at the next open only.
        UVC_CAMERA_SelectUVCCamera("Laptop Webcam");
        QCOMPARE(UVC_CAMERA_SetContrast(5), 0);
        UVC_CAMERA_CloseUVC();
        QVERIFY(!UVC_CAMERA_OpenUVC());
    }

    void callsFromSeveralThreads_neverLeakOrTouchAClosedNode()
    {
        const int handles = openHandles();
        QVERIFY(VirtualCameraProcess::send("slow-open 2")); // widens every race around an open
        std::atomic<int> faults{0};
        auto worker = [&](int seed) {
            for (int i = 0; i < 200; ++i) {
                const int call = (i * 7 + seed) % 9;
                if (call == 0)
                    UVC_CAMERA_OpenUVC();
                else if (call == 1 && seed == 0)
                    UVC_CAMERA_CloseUVC();
                else if (call == 2)
                    UVC_CAMERA_SetContrast(i % 6);
                else if (call == 3)
                    UVC_CAMERA_SetSaturation(10 + i % 31);
                else if (call == 4)
                    UVC_CAMERA_RefreshProperties();
                else if (call == 5)
                    faults += !QByteArrayList{"", "TV2026A0001"}.contains(UVC_CAMERA_GetSN());
                else if (call == 6)
                    faults += UVC_CAMERA_GetWidth() % 640 != 0;
                else if (call == 7)
                    faults += !QByteArrayList{"", "Tarn Thermal: UVC Camera"}.contains(
                        UVC_CAMERA_GetFriendlyName());
                else
                    (void)UVC_CAMERA_UVCIsOpen();
            }
        };
        std::thread a(worker, 0), b(worker, 1), c(worker, 2), d(worker, 3);
        a.join(), b.join(), c.join(), d.join();
        QVERIFY(VirtualCameraProcess::send("slow-open 0"));
        QCOMPARE(faults.load(), 0);
        QCOMPARE(openHandles(), handles + (UVC_CAMERA_UVCIsOpen() ? 1 : 0));
        UVC_CAMERA_CloseUVC();
        QCOMPARE(openHandles(), handles);
    }
};

int main(int argc, char **argv)
{
    VirtualCameraProcess::load(argv, kNode);
    QCoreApplication app(argc, argv);
    V4l2DeviceTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_v4l2device.moc"
