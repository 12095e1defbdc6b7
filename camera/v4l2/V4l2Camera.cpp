#include "camera/v4l2/V4l2Camera.h"

#include "camera/CameraLog.h"
#include "capture/CameraName.h"

#include <QMutexLocker>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <set>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
QString openFailure(int error)
{
    switch (error) {
    case EACCES:
        return QStringLiteral("permission denied: the user must be in the \"video\" group");
    case EBUSY:
        return QStringLiteral("busy: another program is using the camera");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString controlName(unsigned int id)
{
    return id == V4L2_CID_CONTRAST ? QStringLiteral("contrast") : QStringLiteral("saturation");
}

// Device calls are retried when a signal interrupts them.
int deviceIoctl(int fd, unsigned long request, void *arg)
{
    int result;
    do {
        result = ::ioctl(fd, request, arg);
    } while (result == -1 && errno == EINTR);
    return result;
}

bool canCapture(const v4l2_capability &cap)
{
    const quint32 caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}
} // namespace

V4l2Camera::V4l2Camera() : name(intern({})), serial(intern({})), path(intern({})) {}

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

void V4l2Camera::select(const QByteArray &cardName)
{
    QMutexLocker locker(&mutex);
    selection = Selection::Name;
    selectedName = cardName;
}

void V4l2Camera::selectDevice(const QByteArray &devicePath)
{
    QMutexLocker locker(&mutex);
    selection = Selection::Device;
    selectedName = devicePath;
}

void V4l2Camera::selectSerial(const QByteArray &serialNumber)
{
    QMutexLocker locker(&mutex);
    selection = Selection::Serial;
    selectedName = serialNumber;
}

bool V4l2Camera::selectedLocked(const V4l2DeviceDirectory::Node &node, const QString &wantedPath) const
{
    switch (selection) {
    case Selection::Device:
        return node.devicePath == wantedPath;
    case Selection::Serial:
        return !node.usbSerial.isEmpty() && node.usbSerial == QString::fromUtf8(selectedName);
    case Selection::Name:
        break;
    }
    return CameraName::matches(node.cardName, QString::fromUtf8(selectedName));
}

bool V4l2Camera::open()
{
    QMutexLocker locker(&mutex);
    if (fd.load() >= 0)
        return true;
    matches.store(0);
    error.store(ENOENT);
    if (selectedName.isEmpty())
        return false;

    // A device link (/dev/v4l/by-id/...) is followed at each open: it may point elsewhere after a replug.
    QString wantedPath;
    if (selection == Selection::Device) {
        char resolved[PATH_MAX];
        wantedPath = ::realpath(selectedName.constData(), resolved) ? QString::fromLocal8Bit(resolved)
                                                                    : QString::fromLocal8Bit(selectedName);
    }
    int firstError = 0;
    QString failedPath;
    int matched = 0;
    for (const V4l2DeviceDirectory::Node &node : directory.nodes()) {
        // A UVC camera's second node (index 1) carries metadata only.
        if (node.index > 0 || !selectedLocked(node, wantedPath))
            continue;
        ++matched;
        matches.store(matched);
        if (fd.load() >= 0)
            continue; // counted only: the lowest node is open
        const int handle = ::open(node.devicePath.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (handle < 0) {
            const int failure = errno;
            if (!firstError) {
                firstError = failure;
                failedPath = node.devicePath;
            }
            if (reportedOpenErrors.value(node.devicePath) != failure) {
                reportedOpenErrors.insert(node.devicePath, failure);
                qCWarning(lcCamera).noquote()
                    << "Cannot open" << node.devicePath << "(" + node.cardName + "):" << openFailure(failure);
            }
            continue;
        }
        reportedOpenErrors.remove(node.devicePath);

        v4l2_capability cap;
        std::memset(&cap, 0, sizeof cap);
        v4l2_format format;
        std::memset(&format, 0, sizeof format);
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (deviceIoctl(handle, VIDIOC_QUERYCAP, &cap) < 0 || !canCapture(cap) ||
            deviceIoctl(handle, VIDIOC_G_FMT, &format) < 0 || format.fmt.pix.width == 0 ||
            format.fmt.pix.height == 0) {
            if (!firstError)
                firstError = errno ? errno : ENODEV;
            ::close(handle);
            continue;
        }

        openNode = node.node;
        path.store(intern(node.devicePath.toLocal8Bit()));
        fd.store(handle);
        frameWidth.store(int(format.fmt.pix.width));
        frameHeight.store(int(format.fmt.pix.height));
        name.store(intern(node.cardName.toUtf8()));
        serial.store(intern(node.usbSerial.toUtf8()));
        readRangesLocked();
        readControlsLocked();
        error.store(0);
    }
    if (fd.load() >= 0)
        return true;
    error.store(matched ? firstError : ENOENT);
    path.store(intern(failedPath.toLocal8Bit()));
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
    ::close(handle);
    openNode.clear();
    frameWidth.store(0);
    frameHeight.store(0);
    name.store(intern({}));
    path.store(intern({}));
}

int V4l2Camera::setContrast(int value)
{
    return setControl(V4L2_CID_CONTRAST, value);
}

int V4l2Camera::setSaturation(int value)
{
    return setControl(V4L2_CID_SATURATION, value);
}

int V4l2Camera::setControl(unsigned int id, int value)
{
    QMutexLocker locker(&mutex);
    const int handle = fd.load();
    if (handle < 0)
        return ENODEV;
    const Range range = ranges.value(id);
    if (range.known && (value < range.minimum || value > range.maximum)) {
        if (!reportedOutOfRange.contains({id, value})) {
            reportedOutOfRange.insert({id, value});
            qCWarning(lcCamera).noquote()
                << QStringLiteral("Not sent: %1 %2 is outside the camera's range %3..%4")
                       .arg(controlName(id))
                       .arg(value)
                       .arg(range.minimum)
                       .arg(range.maximum);
        }
        return ERANGE;
    }
    v4l2_control control{id, value};
    return deviceIoctl(handle, VIDIOC_S_CTRL, &control) >= 0 ? 0 : errno;
}

void V4l2Camera::readRangesLocked()
{
    ranges.clear();
    reportedOutOfRange.clear();
    for (const unsigned int id : {unsigned(V4L2_CID_CONTRAST), unsigned(V4L2_CID_SATURATION)}) {
        v4l2_queryctrl query;
        std::memset(&query, 0, sizeof query);
        query.id = id;
        if (deviceIoctl(fd.load(), VIDIOC_QUERYCTRL, &query) >= 0 && !(query.flags & V4L2_CTRL_FLAG_DISABLED))
            ranges.insert(id, Range{true, query.minimum, query.maximum});
    }
}

bool V4l2Camera::refresh()
{
    QMutexLocker locker(&mutex);
    if (fd.load() < 0)
        return false;
    return readControlsLocked();
}

bool V4l2Camera::readControlsLocked()
{
    const int handle = fd.load();
    v4l2_control contrastControl{V4L2_CID_CONTRAST, 0};
    v4l2_control saturationControl{V4L2_CID_SATURATION, 0};
    const bool contrastRead = deviceIoctl(handle, VIDIOC_G_CTRL, &contrastControl) >= 0;
    if (contrastRead)
        contrastValue.store(contrastControl.value);
    const bool saturationRead = deviceIoctl(handle, VIDIOC_G_CTRL, &saturationControl) >= 0;
    if (saturationRead)
        saturationValue.store(saturationControl.value);
    return contrastRead && saturationRead;
}
