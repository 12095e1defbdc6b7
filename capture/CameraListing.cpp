#include "capture/CameraListing.h"

#include "camera/CameraProfile.h"
#include "capture/V4l2DeviceDirectory.h"
#include "capture/V4l2FrameSizes.h"

#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
int query(int fd, unsigned long request, void *arg)
{
    int result;
    do {
        result = ::ioctl(fd, request, arg);
    } while (result == -1 && errno == EINTR);
    return result;
}

QString fourcc(quint32 code)
{
    QString text;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = char((code >> shift) & 0xff);
        if (c != ' ' && c != '\0')
            text += QLatin1Char(c);
    }
    return text;
}

QStringList sizes(int fd, quint32 format)
{
    QStringList result;
    v4l2_frmsizeenum size;
    std::memset(&size, 0, sizeof size);
    size.pixel_format = format;
    for (size.index = 0; query(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            result << QStringLiteral("%1x%2").arg(size.discrete.width).arg(size.discrete.height);
        } else {
            result << QStringLiteral("%1x%2 to %3x%4")
                          .arg(size.stepwise.min_width)
                          .arg(size.stepwise.min_height)
                          .arg(size.stepwise.max_width)
                          .arg(size.stepwise.max_height);
            break;
        }
    }
    return result;
}

// The formats of an open capture node, "YUYV 640x512, 256x192" a line each; empty when it is none.
QStringList formats(int fd)
{
    v4l2_capability cap;
    std::memset(&cap, 0, sizeof cap);
    if (query(fd, VIDIOC_QUERYCAP, &cap) < 0)
        return {};
    const quint32 caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE))
        return {};
    QStringList result;
    v4l2_fmtdesc format;
    std::memset(&format, 0, sizeof format);
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (format.index = 0; query(fd, VIDIOC_ENUM_FMT, &format) == 0; ++format.index)
        result << QStringLiteral("%1 %2").arg(fourcc(format.pixelformat),
                                              sizes(fd, format.pixelformat).join(QStringLiteral(", ")));
    if (result.isEmpty())
        result << QStringLiteral("(no formats listed)");
    return result;
}
} // namespace

QString CameraListing::text(const QString &sysfsRoot, const QString &devRoot)
{
    QString text;
    for (const V4l2DeviceDirectory::Node &node : V4l2DeviceDirectory(sysfsRoot, devRoot).nodes()) {
        if (node.index > 0)
            continue;
        QStringList lines;
        const int fd = ::open(node.devicePath.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            lines << QStringLiteral("cannot open it: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            if (errno == EACCES)
                lines << QStringLiteral("(sudo adduser $USER video, then log out and in again)");
        } else {
            lines = formats(fd);
            if (lines.isEmpty()) {
                ::close(fd);
                continue; // not a capture node
            }
            // The layout the viewer would take for it: a split thermal core is told by its sizes.
            CameraProfile::Facts facts;
            facts.cardName = node.cardName;
            facts.vendorId = node.usbVendorId;
            facts.productId = node.usbProductId;
            facts.yuyvSizes = V4l2FrameSizes::of(fd, V4L2_PIX_FMT_YUYV);
            v4l2_format format;
            std::memset(&format, 0, sizeof format);
            format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            if (query(fd, VIDIOC_G_FMT, &format) == 0)
                facts.currentSize = QSize(int(format.fmt.pix.width), int(format.fmt.pix.height));
            ::close(fd);
            lines << QStringLiteral("layout: ") + CameraProfile::choose(facts).layoutText();
        }
        text += QStringLiteral("%1  \"%2\"  serial %3\n")
                    .arg(node.devicePath, node.cardName,
                         node.usbSerial.isEmpty() ? QStringLiteral("none") : node.usbSerial);
        for (const QString &line : lines)
            text += QStringLiteral("    ") + line + QLatin1Char('\n');
    }
    if (text.isEmpty())
        text = QStringLiteral("No capture camera found.\n");
    return text;
}
