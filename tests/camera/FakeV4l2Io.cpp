#include "FakeV4l2Io.h"

#include <QThread>

#include <cerrno>
#include <cstring>

namespace {
int fail(int error)
{
    errno = error;
    return -1;
}
} // namespace

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

FakeV4l2Io::Record FakeV4l2Io::record() const
{
    QMutexLocker locker(&mutex);
    Record now = made;
    now.openNow = descriptors.size();
    return now;
}

int FakeV4l2Io::open(const QString &path)
{
    QMutexLocker locker(&mutex);
    const auto it = devices.constFind(path);
    if (it == devices.constEnd())
        return fail(ENOENT);
    if (it->fault == QLatin1String("open"))
        return fail(EBUSY);
    descriptors.insert(nextFd, path);
    made.opened << path;
    made.maxOpen = qMax(made.maxOpen, descriptors.size());
    return nextFd++;
}

int FakeV4l2Io::close(int fd)
{
    QMutexLocker locker(&mutex);
    if (descriptors.remove(fd))
        return 0;
    ++made.misuses;
    return fail(EBADF);
}

int FakeV4l2Io::ioctl(int fd, unsigned long request, void *arg)
{
    QThread::msleep(ulong(ioctlDelayMs.load()));
    QMutexLocker locker(&mutex);
    const auto descriptor = descriptors.constFind(fd);
    if (descriptor == descriptors.constEnd()) {
        ++made.misuses;
        return fail(EBADF);
    }
    const auto it = devices.find(*descriptor);
    if (it == devices.end())
        return fail(ENODEV);
    auto *control = static_cast<v4l2_control *>(arg);
    switch (request) {
    case VIDIOC_QUERYCAP: {
        if (it->fault == QLatin1String("querycap"))
            return fail(ENOTTY);
        auto *cap = static_cast<v4l2_capability *>(arg);
        std::memset(cap, 0, sizeof *cap);
        cap->device_caps = it->deviceCaps;
        // As the kernel reports it: the whole device's capabilities, the node's own in device_caps.
        cap->capabilities =
            it->deviceCaps | V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_G_FMT: {
        auto *format = static_cast<v4l2_format *>(arg);
        if (it->fault == QLatin1String("format") || format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        format->fmt.pix.width = it->width;
        format->fmt.pix.height = it->height;
        format->fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
        return 0;
    }
    case VIDIOC_S_CTRL:
    case VIDIOC_G_CTRL:
        if (!it->controls.contains(control->id))
            return fail(EINVAL);
        if (request == VIDIOC_G_CTRL) {
            control->value = it->controls.value(control->id);
            return 0;
        }
        it->controls[control->id] = control->value;
        made.writes << QStringLiteral("%1 %2=%3").arg(*descriptor).arg(control->id).arg(control->value);
        return 0;
    default:
        return fail(ENOTTY);
    }
}
