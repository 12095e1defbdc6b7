// The session controller with the V4L2 camera library, the real player and the frame provider, on
// the virtual UVC camera loaded into this process: what a user with a real camera meets.
#include "LogCapture.h"
#include "VirtualCameraProcess.h"

#include "app/AppGlobals.h"
#include "camera/MainControl.h"
#include "media/FFmpegThread.h"
#include "presentation/FameProvider.h"

#include <QAbstractVideoSurface>
#include <QtTest>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
class CountingSurface : public QAbstractVideoSurface
{
public:
    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType) const override
    {
        return {QVideoFrame::Format_RGB32};
    }
    bool present(const QVideoFrame &) override
    {
        ++presented;
        return true;
    }
    int presented = 0;
};

// The value a control of the camera at node holds now, as another program reads it.
int controlValue(int node, unsigned int id)
{
    const int fd = ::open(QByteArray("/dev/video" + QByteArray::number(node)).constData(), O_RDWR);
    v4l2_control control{id, -1};
    if (fd >= 0) {
        ::ioctl(fd, VIDIOC_G_CTRL, &control);
        ::close(fd);
    }
    return control.value;
}
} // namespace

class SessionVirtualCameraTest : public QObject
{
    Q_OBJECT

    CountingSurface surface;

    bool waitForPictures(int count, int timeoutMs = 15000)
    {
        const int target = surface.presented + count;
        return QTest::qWaitFor([&] { return surface.presented >= target; }, timeoutMs);
    }

private slots:
    void cleanupTestCase() { VirtualCameraProcess::removeControl(); }

    void session_commandsReachTheDeviceAndAReplugBringsThePictureBack()
    {
        frameProvider->setVideoSurface(&surface);
        auto control = std::make_unique<MainControl>();
        QVERIFY(QMetaObject::invokeMethod(control.get(), "slotStartUVCConnect", Qt::DirectConnection));
        QVERIFY(waitForPictures(5));

        // The buttons and the slider arrive as V4L2 control writes.
        QVERIFY(QMetaObject::invokeMethod(control.get(), "slotPalette", Qt::DirectConnection));
        QTRY_COMPARE(controlValue(0, V4L2_CID_CONTRAST), 5); // a refresh may hold the camera a moment
        QVERIFY(
            QMetaObject::invokeMethod(control.get(), "slotZoom", Qt::DirectConnection, Q_ARG(double, 2.5)));
        QTRY_COMPARE(controlValue(0, V4L2_CID_SATURATION), 25);

        LogCapture log;
        QVERIFY(VirtualCameraProcess::send("unplug"));
        QVERIFY(log.waitFor("NO FRAME And Ready Reopn", 10000));
        QVERIFY(VirtualCameraProcess::send("plug"));
        QVERIFY(waitForPictures(5));
        QVERIFY(log.contains("deviceName: \"/dev/video1\""));

        QVERIFY(QMetaObject::invokeMethod(control.get(), "slotEndUVCConnect", Qt::DirectConnection));
        control.reset();
        frameProvider->setVideoSurface(nullptr);
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
