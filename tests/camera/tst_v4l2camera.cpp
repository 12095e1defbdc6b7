// The V4L2 camera library, driven through the vendor functions against a sysfs tree in a temporary
// folder and a model of the device nodes' ioctls.
#include "FakeV4l2Io.h"

#include "camera/UVCCameraSDK.h"
#include "camera/v4l2/V4l2Camera.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <linux/videodev2.h>
#include <memory>
#include <thread>

namespace {
const QString devRoot = QStringLiteral("/fakedev");

struct NodeSpec
{
    QString node;      // "video0"
    QString card;      // contents of "name"
    int index;         // 0 capture, 1 metadata
    QString usbDevice; // "1-1"
};

struct UsbSpec
{
    QString name;   // "1-1"
    QString serial; // empty: the device has no serial file
};

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

private:
    std::unique_ptr<QTemporaryDir> sysfs;
    std::shared_ptr<FakeV4l2Io> io;

    QString hubPath() const
    {
        return sysfs->filePath(QStringLiteral("devices/pci0000:00/0000:00:14.0/usb1"));
    }
    QString usbPath(const QString &device) const { return hubPath() + QLatin1Char('/') + device; }

    // A tree shaped like the kernel's: /class/video4linux/videoN links to the node's directory under
    // its USB interface, whose "device" link points back at the interface; the USB device above the
    // interface carries idVendor and (usually) serial; so does the root hub above it.
    void buildTree()
    {
        QVERIFY(writeFile(hubPath() + QStringLiteral("/idVendor"), "1d6b\n"));
        QVERIFY(writeFile(hubPath() + QStringLiteral("/serial"), "0000:00:14.0\n"));
        const UsbSpec usb[] = {{"1-1", "TC-0001"}, {"1-2", ""},      {"1-3", "MO-1"},
                               {"1-4", "TW-9"},    {"1-5", "TW-10"}, {"1-6", "OD-6"}};
        for (const UsbSpec &device : usb) {
            QVERIFY(writeFile(usbPath(device.name) + QStringLiteral("/idVendor"), "0bda\n"));
            if (!device.serial.isEmpty())
                QVERIFY(writeFile(usbPath(device.name) + QStringLiteral("/serial"),
                                  device.serial.toUtf8() + "\n"));
        }
        const NodeSpec nodes[] = {
            {"video0", "Thermal Cam", 0, "1-1"},   {"video1", "Thermal Cam", 1, "1-1"},
            {"video2", "Laptop Webcam", 0, "1-2"}, {"video3", "Laptop Webcam", 1, "1-2"},
            {"video4", "Meta Only", 1, "1-3"},     {"video9", "Twin Cam", 0, "1-4"},
            {"video10", "Twin Cam", 0, "1-5"},     {"video5", "Odd Camera", 0, "1-6"},
            {"video6", "Odd Camera", 0, "1-6"},
        };
        const QString classDir = sysfs->filePath(QStringLiteral("class/video4linux"));
        QVERIFY(QDir().mkpath(classDir));
        for (const NodeSpec &node : nodes) {
            const QString interface =
                usbPath(node.usbDevice) + QLatin1Char('/') + node.usbDevice + QStringLiteral(":1.0");
            const QString nodeDir = interface + QStringLiteral("/video4linux/") + node.node;
            QVERIFY(writeFile(nodeDir + QStringLiteral("/name"), node.card.toUtf8() + "\n"));
            QVERIFY(writeFile(nodeDir + QStringLiteral("/index"), QByteArray::number(node.index) + "\n"));
            QVERIFY(QFile::link(interface, nodeDir + QStringLiteral("/device")));
            QVERIFY(QFile::link(nodeDir, classDir + QLatin1Char('/') + node.node));
        }
    }

    void buildDevices()
    {
        auto add = [this](const QString &node, quint32 w, quint32 h, quint32 caps = 0) {
            FakeV4l2Io::Device device;
            device.width = w;
            device.height = h;
            device.deviceCaps = caps;
            device.controls = {{V4L2_CID_CONTRAST, 32}, {V4L2_CID_SATURATION, 64}};
            io->addDevice(devRoot + QLatin1Char('/') + node, device);
        };
        add(QStringLiteral("video0"), 640, 512);
        add(QStringLiteral("video1"), 0, 0, V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING);
        add(QStringLiteral("video2"), 1280, 720);
        add(QStringLiteral("video3"), 0, 0, V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING);
        add(QStringLiteral("video4"), 0, 0, V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING);
        add(QStringLiteral("video9"), 320, 240);
        add(QStringLiteral("video10"), 800, 600);
        add(QStringLiteral("video5"), 160, 100, V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING);
        add(QStringLiteral("video6"), 160, 120);
    }

    QString dev(const QString &node) const { return devRoot + QLatin1Char('/') + node; }

private slots:
    void init()
    {
        sysfs = std::make_unique<QTemporaryDir>();
        QVERIFY(sysfs->isValid());
        buildTree();
        io = std::make_shared<FakeV4l2Io>();
        buildDevices();
        V4l2Camera::instance().setBackend(
            V4l2DeviceDirectory(sysfs->filePath(QStringLiteral("class/video4linux")), devRoot), io);
        UVC_CAMERA_SelectUVCCamera("Thermal Cam");
    }

    void cleanup()
    {
        UVC_CAMERA_CloseUVC();
        QCOMPARE(io->openDescriptors(), 0);
        QCOMPARE(io->misuses(), 0);
    }

    void open_selectsTheCaptureNodeByExactCardName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("node"); // empty: the open fails
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QByteArray>("serial");
        QTest::newRow("camera with metadata node")
            << QByteArray("Thermal Cam") << "video0" << 640 << 512 << QByteArray("TC-0001");
        QTest::newRow("other camera, no USB serial")
            << QByteArray("Laptop Webcam") << "video2" << 1280 << 720 << QByteArray();
        QTest::newRow("two nodes named alike: lowest number")
            << QByteArray("Twin Cam") << "video9" << 320 << 240 << QByteArray("TW-9");
        QTest::newRow("index 0 that cannot capture is passed over")
            << QByteArray("Odd Camera") << "video6" << 160 << 120 << QByteArray("OD-6");
        QTest::newRow("case differs") << QByteArray("thermal cam") << QString() << 0 << 0 << QByteArray();
        QTest::newRow("prefix only") << QByteArray("Thermal") << QString() << 0 << 0 << QByteArray();
        QTest::newRow("only a metadata node")
            << QByteArray("Meta Only") << QString() << 0 << 0 << QByteArray();
        QTest::newRow("no such camera") << QByteArray("UVC Camera") << QString() << 0 << 0 << QByteArray();
        QTest::newRow("nothing selected") << QByteArray() << QString() << 0 << 0 << QByteArray();
    }

    void open_selectsTheCaptureNodeByExactCardName()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, node);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QByteArray, serial);
        UVC_CAMERA_SelectUVCCamera(name.constData());
        const bool opens = !node.isEmpty();
        QCOMPARE(UVC_CAMERA_OpenUVC(), opens);
        QCOMPARE(UVC_CAMERA_UVCIsOpen(), opens);
        QCOMPARE(UVC_CAMERA_GetWidth(), width);
        QCOMPARE(UVC_CAMERA_GetHeight(), height);
        QCOMPARE(QByteArray(UVC_CAMERA_GetFriendlyName()), opens ? name : QByteArray());
        QCOMPARE(io->openDescriptors(), opens ? 1 : 0);
        if (opens) {
            QCOMPARE(io->openedPaths().last(), dev(node));
            QCOMPARE(QByteArray(UVC_CAMERA_GetSN()), serial);
        }
        // Metadata nodes are never even opened.
        for (const QString &path : io->openedPaths())
            QVERIFY2(!path.endsWith(QLatin1String("video1")) && !path.endsWith(QLatin1String("video3")) &&
                         !path.endsWith(QLatin1String("video4")),
                     qPrintable(path));
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
        FakeV4l2Io::Device device = io->device(dev(QStringLiteral("video0")));
        device.opens = fault != QLatin1String("open");
        device.queryCapFails = fault == QLatin1String("querycap");
        device.formatFails = fault == QLatin1String("format");
        if (fault == QLatin1String("missing"))
            io->removeDevice(dev(QStringLiteral("video0")));
        else
            io->addDevice(dev(QStringLiteral("video0")), device);

        QVERIFY(!UVC_CAMERA_OpenUVC());
        QVERIFY(!UVC_CAMERA_UVCIsOpen());
        QCOMPARE(UVC_CAMERA_GetWidth(), 0);
        QCOMPARE(QByteArray(UVC_CAMERA_GetFriendlyName()), QByteArray());
        QCOMPARE(io->openDescriptors(), 0); // whatever was opened was closed again
        QCOMPARE(UVC_CAMERA_SetContrast(5), -1);
    }

    void controls_areSetAndReadBack_data()
    {
        QTest::addColumn<bool>("contrast"); // else saturation
        QTest::addColumn<int>("value");
        QTest::newRow("record: contrast 0") << true << 0;
        QTest::newRow("tracking: contrast 2") << true << 2;
        QTest::newRow("FFC: contrast 4") << true << 4;
        QTest::newRow("palette: contrast 5") << true << 5;
        QTest::newRow("zoom 1.3X: saturation 13") << false << 13;
        QTest::newRow("zoom 4.0X: saturation 40") << false << 40;
    }

    void controls_areSetAndReadBack()
    {
        QFETCH(bool, contrast);
        QFETCH(int, value);
        QVERIFY(UVC_CAMERA_OpenUVC());
        QCOMPARE(UVC_CAMERA_GetSaturation(), 64); // read when opened

        const quint32 id = contrast ? V4L2_CID_CONTRAST : V4L2_CID_SATURATION;
        QCOMPARE(contrast ? UVC_CAMERA_SetContrast(value) : UVC_CAMERA_SetSaturation(value), 0);
        QCOMPARE(io->controlWrites(),
                 QStringList{QStringLiteral("%1 %2=%3").arg(dev("video0")).arg(id).arg(value)});
        QCOMPARE(io->device(dev(QStringLiteral("video0"))).controls.value(id), value);

        QCOMPARE(UVC_CAMERA_GetSaturation(), 64); // until the next refresh
        QCOMPARE(UVC_CAMERA_RefreshProperties(), 0);
        QCOMPARE(UVC_CAMERA_GetSaturation(), contrast ? 64 : value);
        QCOMPARE(V4l2Camera::instance().contrast(), contrast ? value : 32);
    }

    void refresh_readsWhatTheDeviceNowHolds()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        const QByteArray before = UVC_CAMERA_GetSN();
        const char *beforePointer = UVC_CAMERA_GetSN();
        io->setControl(dev(QStringLiteral("video0")), V4L2_CID_SATURATION, 27);
        QVERIFY(writeFile(usbPath(QStringLiteral("1-1")) + QStringLiteral("/serial"), "TC-0001-B\n"));
        QCOMPARE(UVC_CAMERA_RefreshProperties(), 0);
        QCOMPARE(UVC_CAMERA_GetSaturation(), 27);
        QCOMPARE(QByteArray(UVC_CAMERA_GetSN()), QByteArray("TC-0001-B"));
        QCOMPARE(QByteArray(beforePointer), before); // an earlier answer is still readable
    }

    void deviceGone_commandsAndRefreshFail()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        QCOMPARE(UVC_CAMERA_RefreshProperties(), 0);
        io->removeDevice(dev(QStringLiteral("video0")));
        QCOMPARE(UVC_CAMERA_SetContrast(5), -1);
        QCOMPARE(UVC_CAMERA_SetSaturation(20), -1);
        QCOMPARE(UVC_CAMERA_RefreshProperties(), -1);
        QCOMPARE(UVC_CAMERA_GetSaturation(), 64); // the last values read
        UVC_CAMERA_CloseUVC();
        QVERIFY(!UVC_CAMERA_OpenUVC());
    }

    void closedCamera_sendsNothing()
    {
        QCOMPARE(UVC_CAMERA_SetContrast(5), -1);
        QCOMPARE(UVC_CAMERA_SetSaturation(20), -1);
        QCOMPARE(UVC_CAMERA_RefreshProperties(), -1);
        QVERIFY(io->controlWrites().isEmpty());
        QVERIFY(io->openedPaths().isEmpty());
    }

    void closeAndReopen_releaseAndReacquireTheNode()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        QVERIFY(UVC_CAMERA_OpenUVC()); // already open: nothing more is opened
        QCOMPARE(io->openedPaths().size(), 1);
        UVC_CAMERA_CloseUVC();
        QVERIFY(!UVC_CAMERA_UVCIsOpen());
        QCOMPARE(io->openDescriptors(), 0);
        QCOMPARE(UVC_CAMERA_GetWidth(), 0);
        QCOMPARE(QByteArray(UVC_CAMERA_GetFriendlyName()), QByteArray());
        UVC_CAMERA_CloseUVC(); // closing twice is harmless

        QVERIFY(UVC_CAMERA_OpenUVC());
        QCOMPARE(io->openedPaths(), (QStringList{dev("video0"), dev("video0")}));
        QCOMPARE(UVC_CAMERA_GetWidth(), 640);
        QCOMPARE(QByteArray(UVC_CAMERA_GetFriendlyName()), QByteArray("Thermal Cam"));
        QCOMPARE(io->maxOpenDescriptors(), 1);
    }

    void selectingAnotherCamera_takesEffectAtTheNextOpen()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        UVC_CAMERA_SelectUVCCamera("Laptop Webcam");
        QCOMPARE(UVC_CAMERA_GetWidth(), 640);
        UVC_CAMERA_CloseUVC();
        QVERIFY(UVC_CAMERA_OpenUVC());
        QCOMPARE(UVC_CAMERA_GetWidth(), 1280);
        QCOMPARE(QByteArray(UVC_CAMERA_GetFriendlyName()), QByteArray("Laptop Webcam"));
    }

    void callsFromSeveralThreads_neverTouchAClosedNode()
    {
        io->setIoctlDelayMs(1);
        std::atomic<bool> wrong{false};
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
                    if (QByteArray sn = UVC_CAMERA_GetSN(); !sn.isEmpty() && sn != "TC-0001")
                        wrong = true;
                    break;
                case 5: {
                    const int w = UVC_CAMERA_GetWidth();
                    if (w != 0 && w != 640)
                        wrong = true;
                    break;
                }
                case 6: {
                    const QByteArray name = UVC_CAMERA_GetFriendlyName();
                    if (!name.isEmpty() && name != "Thermal Cam")
                        wrong = true;
                    break;
                }
                default:
                    (void)UVC_CAMERA_UVCIsOpen();
                    break;
                }
            }
        };
        std::thread a(worker, 0), b(worker, 1), c(worker, 2), d(worker, 3);
        a.join();
        b.join();
        c.join();
        d.join();
        QVERIFY(!wrong);
        QCOMPARE(io->misuses(), 0);
        QCOMPARE(io->maxOpenDescriptors(), 1);
        QCOMPARE(io->openDescriptors(), UVC_CAMERA_UVCIsOpen() ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(V4l2CameraTest)
#include "tst_v4l2camera.moc"
