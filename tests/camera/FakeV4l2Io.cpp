#include "FakeV4l2Io.h"

#include <QMutexLocker>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <linux/videodev2.h>

void FakeV4l2Io::addDevice(const QString &path, const Device &device)
{
    QMutexLocker locker(&mutex);
    devices.insert(path, device);
}

void FakeV4l2Io::removeDevice(const QString &path)
{
    QMutexLocker locker(&mutex);
    devices.remove(path);
}

FakeV4l2Io::Device FakeV4l2Io::device(const QString &path) const
{
    QMutexLocker locker(&mutex);
    return devices.value(path);
}

void FakeV4l2Io::setControl(const QString &path, quint32 id, int value)
{
    QMutexLocker locker(&mutex);
    devices[path].controls[id] = value;
}

int FakeV4l2Io::open(const QString &path)
{
    QMutexLocker locker(&mutex);
    const auto it = devices.constFind(path);
    if (it == devices.constEnd()) {
        errno = ENOENT;
        return -1;
    }
    if (!it->opens) {
        errno = EBUSY;
        return -1;
    }
    const int fd = nextFd++;
    descriptors.insert(fd, path);
    opened << path;
    maxOpen = qMax(maxOpen, descriptors.size());
    return fd;
}

int FakeV4l2Io::close(int fd)
{
    QMutexLocker locker(&mutex);
    if (!descriptors.remove(fd)) {
        ++misuseCount;
        errno = EBADF;
        return -1;
    }
    return 0;
}

int FakeV4l2Io::ioctl(int fd, unsigned long request, void *arg)
{
    if (const int delay = ioctlDelayMs.load())
        QThread::msleep(ulong(delay));
    QMutexLocker locker(&mutex);
    const auto descriptor = descriptors.constFind(fd);
    if (descriptor == descriptors.constEnd()) {
        ++misuseCount;
        errno = EBADF;
        return -1;
    }
    const auto it = devices.find(*descriptor);
    if (it == devices.end()) {
        errno = ENODEV;
        return -1;
    }
    Device &device = *it;
    switch (request) {
    case VIDIOC_QUERYCAP: {
        if (device.queryCapFails) {
            errno = ENOTTY;
            return -1;
        }
        auto *cap = static_cast<v4l2_capability *>(arg);
        std::memset(cap, 0, sizeof *cap);
        cap->device_caps =
            device.deviceCaps ? device.deviceCaps : (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING);
        cap->capabilities =
            cap->device_caps | V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_G_FMT: {
        auto *format = static_cast<v4l2_format *>(arg);
        if (device.formatFails || format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
            errno = EINVAL;
            return -1;
        }
        format->fmt.pix.width = device.width;
        format->fmt.pix.height = device.height;
        format->fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
        return 0;
    }
    case VIDIOC_S_CTRL: {
        auto *control = static_cast<v4l2_control *>(arg);
        if (!device.controls.contains(control->id)) {
            errno = EINVAL;
            return -1;
        }
        device.controls[control->id] = control->value;
        writes << QStringLiteral("%1 %2=%3").arg(*descriptor).arg(control->id).arg(control->value);
        return 0;
    }
    case VIDIOC_G_CTRL: {
        auto *control = static_cast<v4l2_control *>(arg);
        if (!device.controls.contains(control->id)) {
            errno = EINVAL;
            return -1;
        }
        control->value = device.controls.value(control->id);
        return 0;
    }
    default:
        errno = ENOTTY;
        return -1;
    }
}

QStringList FakeV4l2Io::openedPaths() const
{
    QMutexLocker locker(&mutex);
    return opened;
}

int FakeV4l2Io::openDescriptors() const
{
    QMutexLocker locker(&mutex);
    return descriptors.size();
}

int FakeV4l2Io::maxOpenDescriptors() const
{
    QMutexLocker locker(&mutex);
    return maxOpen;
}

int FakeV4l2Io::misuses() const
{
    QMutexLocker locker(&mutex);
    return misuseCount;
}

QStringList FakeV4l2Io::controlWrites() const
{
    QMutexLocker locker(&mutex);
    return writes;
}
