#include "capture/V4l2DeviceDirectory.h"

#include "capture/CameraName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {
QString readLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readLine()).trimmed();
}

int nodeNumber(const QString &node)
{
    static const QRegularExpression digits(QStringLiteral("(\\d+)$"));
    const auto match = digits.match(node);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The node's "device" link points at the USB interface; the serial and the ids sit on the USB device
// above it, the first directory up the chain with an "idVendor" file. The search stops there: a camera
// without a serial must not report the serial of the hub or host controller it hangs off.
QString findUsbDevice(const QString &nodeDir)
{
    QString dir = QFileInfo(nodeDir + QStringLiteral("/device")).canonicalFilePath();
    for (int depth = 0; depth < 4 && !dir.isEmpty(); ++depth) {
        if (QFileInfo::exists(dir + QStringLiteral("/idVendor")))
            return dir;
        const QString parent = QFileInfo(dir).path();
        if (parent == dir)
            break;
        dir = parent;
    }
    return {};
}
} // namespace

V4l2DeviceDirectory::V4l2DeviceDirectory(QString sysfsRoot, QString devRoot)
    : sysfsRoot(std::move(sysfsRoot)), devRoot(std::move(devRoot))
{}

QVector<V4l2DeviceDirectory::Node> V4l2DeviceDirectory::nodes() const
{
    QVector<Node> result;
    const QDir root(sysfsRoot);
    const QStringList entries =
        root.entryList({QStringLiteral("video*")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &entry : entries) {
        const QString dir = root.filePath(entry);
        Node node;
        node.node = entry;
        node.devicePath = devRoot + QLatin1Char('/') + entry;
        node.cardName = readLine(dir + QStringLiteral("/name"));
        bool ok = false;
        const int index = readLine(dir + QStringLiteral("/index")).toInt(&ok);
        node.index = ok ? index : -1;
        const QString usb = findUsbDevice(dir);
        if (!usb.isEmpty()) {
            node.usbSerial = readLine(usb + QStringLiteral("/serial"));
            node.usbVendorId = quint16(readLine(usb + QStringLiteral("/idVendor")).toUInt(nullptr, 16));
            node.usbProductId = quint16(readLine(usb + QStringLiteral("/idProduct")).toUInt(nullptr, 16));
        }
        result.append(node);
    }
    std::sort(result.begin(), result.end(),
              [](const Node &a, const Node &b) { return nodeNumber(a.node) < nodeNumber(b.node); });
    return result;
}

std::optional<V4l2DeviceDirectory::Node> V4l2DeviceDirectory::findCaptureNode(const QString &cardName) const
{
    for (const Node &node : nodes()) {
        if (node.index == 0 && CameraName::matches(node.cardName, cardName))
            return node;
    }
    return std::nullopt;
}
