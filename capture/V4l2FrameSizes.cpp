#include "capture/V4l2FrameSizes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

QVector<QSize> V4l2FrameSizes::of(int fd, quint32 pixelFormat)
{
    QVector<QSize> result;
    v4l2_frmsizeenum size;
    std::memset(&size, 0, sizeof size);
    size.pixel_format = pixelFormat;
    for (size.index = 0;; ++size.index) {
        int answer;
        do {
            answer = ::ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size);
        } while (answer == -1 && errno == EINTR);
        if (answer < 0 || size.type != V4L2_FRMSIZE_TYPE_DISCRETE)
            break;
        result.append(QSize(int(size.discrete.width), int(size.discrete.height)));
    }
    return result;
}

QVector<QSize> V4l2FrameSizes::ofNode(const QString &devicePath, quint32 pixelFormat)
{
    const int fd = ::open(devicePath.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    const QVector<QSize> sizes = of(fd, pixelFormat);
    ::close(fd);
    return sizes;
}
