#include "camera/v4l2/V4l2Camera.h"

#include "camera/v4l2/SystemV4l2Io.h"

#include <QMutexLocker>

#include <cstring>
#include <linux/videodev2.h>
#include <set>
#include <string>

namespace {
bool canCapture(const v4l2_capability &cap)
{
    const quint32 caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}
} // namespace

V4l2Camera::V4l2Camera(V4l2DeviceDirectory directory, std::shared_ptr<V4l2Io> io)
    : directory(std::move(directory)), io(io ? std::move(io) : std::make_shared<SystemV4l2Io>()),
      name(intern({})), serial(intern({}))
{}

V4l2Camera::~V4l2Camera()
{
    QMutexLocker locker(&mutex);
    closeLocked();
}

V4l2Camera &V4l2Camera::instance()
{
    static V4l2Camera camera;
    return camera;
}

const char *V4l2Camera::intern(const QByteArray &text)
{
    static QMutex internMutex;
    static std::set<std::string> texts;
    QMutexLocker locker(&internMutex);
    return texts.emplace(text.constData(), size_t(text.size())).first->c_str();
}

void V4l2Camera::setBackend(V4l2DeviceDirectory newDirectory, std::shared_ptr<V4l2Io> newIo)
{
    QMutexLocker locker(&mutex);
    closeLocked();
    directory = std::move(newDirectory);
    io = newIo ? std::move(newIo) : std::make_shared<SystemV4l2Io>();
}

void V4l2Camera::select(const QByteArray &cardName)
{
    QMutexLocker locker(&mutex);
    selectedName = cardName;
}

bool V4l2Camera::open()
{
    QMutexLocker locker(&mutex);
    if (fd.load() >= 0)
        return true;
    if (selectedName.isEmpty())
        return false;

    const QString wanted = QString::fromUtf8(selectedName);
    for (const V4l2DeviceDirectory::Node &node : directory.nodes()) {
        // A UVC camera's second node (index 1) carries metadata only.
        if (node.cardName != wanted || node.index > 0)
            continue;
        const int handle = io->open(node.devicePath);
        if (handle < 0)
            continue;

        v4l2_capability cap;
        std::memset(&cap, 0, sizeof cap);
        v4l2_format format;
        std::memset(&format, 0, sizeof format);
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (io->ioctl(handle, VIDIOC_QUERYCAP, &cap) < 0 || !canCapture(cap) ||
            io->ioctl(handle, VIDIOC_G_FMT, &format) < 0 || format.fmt.pix.width == 0 ||
            format.fmt.pix.height == 0) {
            io->close(handle);
            continue;
        }

        openNode = node.node;
        fd.store(handle);
        frameWidth.store(int(format.fmt.pix.width));
        frameHeight.store(int(format.fmt.pix.height));
        name.store(intern(selectedName));
        serial.store(intern(node.usbSerial.toUtf8()));
        readControlsLocked();
        return true;
    }
    return false;
}

void V4l2Camera::close()
{
    QMutexLocker locker(&mutex);
    closeLocked();
}

void V4l2Camera::closeLocked()
{
    const int handle = fd.exchange(-1);
    if (handle < 0)
        return;
    io->close(handle);
    openNode.clear();
    frameWidth.store(0);
    frameHeight.store(0);
    name.store(intern({}));
}

bool V4l2Camera::setContrast(int value)
{
    return setControl(V4L2_CID_CONTRAST, value);
}

bool V4l2Camera::setSaturation(int value)
{
    return setControl(V4L2_CID_SATURATION, value);
}

bool V4l2Camera::setControl(unsigned int id, int value)
{
    QMutexLocker locker(&mutex);
    const int handle = fd.load();
    if (handle < 0)
        return false;
    v4l2_control control{id, value};
    return io->ioctl(handle, VIDIOC_S_CTRL, &control) >= 0;
}

bool V4l2Camera::refresh()
{
    QMutexLocker locker(&mutex);
    if (fd.load() < 0)
        return false;
    const bool controlsRead = readControlsLocked();
    // The serial lives in sysfs; read it again in case the node now belongs to another device.
    for (const V4l2DeviceDirectory::Node &node : directory.nodes()) {
        if (node.node == openNode) {
            serial.store(intern(node.usbSerial.toUtf8()));
            break;
        }
    }
    return controlsRead;
}

bool V4l2Camera::readControlsLocked()
{
    const int handle = fd.load();
    v4l2_control contrastControl{V4L2_CID_CONTRAST, 0};
    v4l2_control saturationControl{V4L2_CID_SATURATION, 0};
    const bool contrastRead = io->ioctl(handle, VIDIOC_G_CTRL, &contrastControl) >= 0;
    if (contrastRead)
        contrastValue.store(contrastControl.value);
    const bool saturationRead = io->ioctl(handle, VIDIOC_G_CTRL, &saturationControl) >= 0;
    if (saturationRead)
        saturationValue.store(saturationControl.value);
    return contrastRead && saturationRead;
}
