// The V4L2 camera library, driven through the vendor functions against a sysfs tree in a temporary
// folder and a model of the device nodes' ioctls: the choice among many nodes, which the one virtual
// camera cannot show. Commands, ranges, refresh and unplug run against the virtual camera
// (tst_v4l2device).
#include "FakeV4l2Io.h"

#include "camera/UVCCameraSDK.h"
#include "camera/v4l2/V4l2Camera.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <thread>

namespace {
const QString devRoot = QStringLiteral("/fakedev");

QString dev(const QString &node)
{
    return devRoot + QLatin1Char('/') + node;
}

// The machine's video nodes, as the sysfs tree and the modelled ioctls show them.
struct Node
{
    const char *node, *card;
    int index;                // 0 capture, 1 metadata
    const char *usb, *serial; // serial "": the USB device has no serial file
    quint32 width, height;
    bool meta; // the node can only capture metadata
};
const Node nodes[] = {
    {"video0", "Thermal Cam", 0, "1-1", "TC-0001", 640, 512, false},
    {"video1", "Thermal Cam", 1, "1-1", "TC-0001", 0, 0, true},
    {"video2", "Laptop Webcam", 0, "1-2", "", 1280, 720, false},
    {"video3", "Laptop Webcam", 1, "1-2", "", 0, 0, true},
    {"video4", "Meta Only", 1, "1-3", "MO-1", 0, 0, true},
    {"video9", "Twin Cam", 0, "1-4", "TW-9", 320, 240, false},
    {"video10", "Twin Cam", 0, "1-5", "TW-10", 800, 600, false},
    {"video5", "Odd Camera", 0, "1-6", "OD-6", 160, 100, true},
    {"video6", "Odd Camera", 0, "1-6", "OD-6", 160, 120, false},
};

const Node &nodeOf(const QString &name)
{
    return *std::find_if(std::begin(nodes), std::end(nodes), [&](const Node &n) { return name == n.node; });
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}
} // namespace

class V4l2CameraTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> sysfs;
    std::shared_ptr<FakeV4l2Io> io;

    QString usbPath(const QString &device) const
    {
        return sysfs->filePath(QStringLiteral("devices/pci0000:00/0000:00:14.0/usb1/") + device);
    }

private slots:
    // A tree shaped like the kernel's: /class/video4linux/videoN links to the node's directory under its
    // USB interface, whose "device" link points back at the interface; the USB device above the
    // interface carries idVendor and (usually) serial; so does the root hub above it.
    void init()
    {
        sysfs = std::make_unique<QTemporaryDir>();
        io = std::make_shared<FakeV4l2Io>();
        const QString classDir = sysfs->filePath(QStringLiteral("class/video4linux"));
        QVERIFY(QDir().mkpath(classDir));
        QVERIFY(writeFile(usbPath("idVendor"), "1d6b\n") && writeFile(usbPath("serial"), "0000:00:14.0\n"));
        for (const Node &n : nodes) {
            const QString usb = usbPath(n.usb), interface = usb + '/' + n.usb + ":1.0";
            const QString nodeDir = interface + "/video4linux/" + n.node;
            QVERIFY(writeFile(usb + "/idVendor", "0bda\n"));
            QVERIFY(!*n.serial || writeFile(usb + "/serial", n.serial + QByteArray("\n")));
            QVERIFY(writeFile(nodeDir + "/name", n.card + QByteArray("\n")));
            QVERIFY(writeFile(nodeDir + "/index", QByteArray::number(n.index) + "\n"));
            QVERIFY(QFile::link(interface, nodeDir + "/device"));
            QVERIFY(QFile::link(nodeDir, classDir + '/' + n.node));
            FakeV4l2Io::Device device;
            device.width = n.width;
            device.height = n.height;
            if (n.meta)
                device.deviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
            device.controls = {{V4L2_CID_CONTRAST, 32}, {V4L2_CID_SATURATION, 64}};
            io->addDevice(dev(n.node), device);
        }
        V4l2Camera::instance().setBackend(V4l2DeviceDirectory(classDir, devRoot), io);
        UVC_CAMERA_SelectUVCCamera("Thermal Cam");
    }

    void cleanup()
    {
        UVC_CAMERA_CloseUVC();
        QCOMPARE(io->record().openNow, 0);
        QCOMPARE(io->record().misuses, 0);
    }

    void open_selectsTheCaptureNodeByExactCardName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("node"); // empty: the open fails
        QTest::newRow("camera with metadata node") << QByteArray("Thermal Cam") << "video0";
        QTest::newRow("other camera, no USB serial") << QByteArray("Laptop Webcam") << "video2";
        QTest::newRow("two nodes named alike: lowest number") << QByteArray("Twin Cam") << "video9";
        QTest::newRow("index 0 that cannot capture is passed over") << QByteArray("Odd Camera") << "video6";
        QTest::newRow("case differs") << QByteArray("thermal cam") << QString();
        QTest::newRow("prefix only") << QByteArray("Thermal") << QString();
        QTest::newRow("only a metadata node") << QByteArray("Meta Only") << QString();
        QTest::newRow("no such camera") << QByteArray("UVC Camera") << QString();
        QTest::newRow("nothing selected") << QByteArray() << QString();
    }

    void open_selectsTheCaptureNodeByExactCardName()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, node);
        UVC_CAMERA_SelectUVCCamera(name.constData());
        const bool opens = !node.isEmpty();
        QCOMPARE(UVC_CAMERA_OpenUVC(), opens);
        QCOMPARE(UVC_CAMERA_UVCIsOpen(), opens);
        const QSize size = opens ? QSize(nodeOf(node).width, nodeOf(node).height) : QSize(0, 0);
        QCOMPARE(QSize(UVC_CAMERA_GetWidth(), UVC_CAMERA_GetHeight()), size);
        QCOMPARE(QByteArray(UVC_CAMERA_GetFriendlyName()), opens ? name : QByteArray());
        const FakeV4l2Io::Record record = io->record();
        QCOMPARE(record.openNow, opens ? 1 : 0);
        if (opens) {
            QCOMPARE(record.opened.last(), dev(node));
            QCOMPARE(QByteArray(UVC_CAMERA_GetSN()), QByteArray(nodeOf(node).serial));
        }
        // Metadata nodes are never even opened.
        QCOMPARE(record.opened.filter(QRegularExpression("/video[134]$")), QStringList());
    }

    void open_failsWhenTheNodeDoesNotAnswer_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("node does not open") << "open";
        QTest::newRow("capabilities refused") << "querycap";
        QTest::newRow("capture format refused") << "format";
        QTest::newRow("node gone from /dev") << "missing";
    }

    void open_failsWhenTheNodeDoesNotAnswer()
    {
        QFETCH(QString, fault);
        FakeV4l2Io::Device device = io->device(dev("video0"));
        device.fault = fault;
        io->addDevice(dev("video0"), device);
        if (fault == QLatin1String("missing"))
            io->removeDevice(dev("video0"));

        QVERIFY(!UVC_CAMERA_OpenUVC());
        QVERIFY(!UVC_CAMERA_UVCIsOpen());
        QCOMPARE(UVC_CAMERA_GetWidth(), 0);
        QCOMPARE(QByteArray(UVC_CAMERA_GetFriendlyName()), QByteArray());
        QCOMPARE(io->record().openNow, 0); // whatever was opened was closed again
        QCOMPARE(UVC_CAMERA_SetContrast(5), -1);
    }

    void closedCamera_sendsNothing()
    {
        QCOMPARE(UVC_CAMERA_SetContrast(5), -1);
        QCOMPARE(UVC_CAMERA_SetSaturation(20), -1);
        QCOMPARE(UVC_CAMERA_RefreshProperties(), -1);
        QVERIFY(io->record().writes.isEmpty());
        QVERIFY(io->record().opened.isEmpty());
    }

    void closeAndReopen_releaseAndReacquireTheNodeOfTheSelectedCamera()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        QVERIFY(UVC_CAMERA_OpenUVC()); // already open: nothing more is opened
        QCOMPARE(io->record().opened.size(), 1);
        UVC_CAMERA_CloseUVC();
        QVERIFY(!UVC_CAMERA_UVCIsOpen());
        QCOMPARE(io->record().openNow, 0);
        QCOMPARE(UVC_CAMERA_GetWidth(), 0);
        QCOMPARE(QByteArray(UVC_CAMERA_GetFriendlyName()), QByteArray());
        UVC_CAMERA_CloseUVC(); // closing twice is harmless

        QVERIFY(UVC_CAMERA_OpenUVC());
        QCOMPARE(io->record().opened, (QStringList{dev("video0"), dev("video0")}));
        QCOMPARE(UVC_CAMERA_GetWidth(), 640);
        QCOMPARE(QByteArray(UVC_CAMERA_GetFriendlyName()), QByteArray("Thermal Cam"));
        QCOMPARE(io->record().maxOpen, 1);

        // Selecting another camera takes effect at the next open.
        UVC_CAMERA_SelectUVCCamera("Laptop Webcam");
        QCOMPARE(UVC_CAMERA_GetWidth(), 640);
        UVC_CAMERA_CloseUVC();
        QVERIFY(UVC_CAMERA_OpenUVC());
        QCOMPARE(UVC_CAMERA_GetWidth(), 1280);
        QCOMPARE(QByteArray(UVC_CAMERA_GetFriendlyName()), QByteArray("Laptop Webcam"));
    }

    void callsFromSeveralThreads_neverTouchAClosedNode()
    {
        io->ioctlDelayMs = 1;
        std::atomic<int> faults{0};
        auto worker = [&](int seed) {
            for (int i = 0; i < 200; ++i) {
                switch ((i * 7 + seed) % 8) {
                case 0:
                    UVC_CAMERA_OpenUVC();
                    break;
                case 1:
                    if (seed == 0)
                        UVC_CAMERA_CloseUVC();
                    break;
                case 2:
                    UVC_CAMERA_SetContrast(i % 6);
                    break;
                case 3:
                    UVC_CAMERA_SetSaturation(10 + i % 31);
                    break;
                case 4:
                    UVC_CAMERA_RefreshProperties();
                    faults += !QByteArrayList{"", "TC-0001"}.contains(UVC_CAMERA_GetSN());
                    break;
                case 5:
                    faults += UVC_CAMERA_GetWidth() % 640 != 0;
                    break;
                case 6:
                    faults += !QByteArrayList{"", "Thermal Cam"}.contains(UVC_CAMERA_GetFriendlyName());
                    break;
                default:
                    (void)UVC_CAMERA_UVCIsOpen();
                }
            }
        };
        std::thread a(worker, 0), b(worker, 1), c(worker, 2), d(worker, 3);
        a.join(), b.join(), c.join(), d.join();
        QCOMPARE(faults.load(), 0);
        QCOMPARE(io->record().maxOpen, 1);
        QCOMPARE(io->record().openNow, UVC_CAMERA_UVCIsOpen() ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(V4l2CameraTest)
#include "tst_v4l2camera.moc"
