#pragma once

#include <QString>
#include <QVector>

#include <optional>

// The V4L2 nodes the kernel lists under /sys/class/video4linux (or a test's copy of that tree).
// A UVC camera shows up as two nodes with the same card name: the video-capture node (index 0) and a
// metadata node (index 1). Reads only files; safe from any thread.
class V4l2DeviceDirectory
{
public:
    struct Node
    {
        QString node;            // "video0"
        QString devicePath;      // "/dev/video0" (under devRoot)
        QString cardName;        // contents of "name"
        int index = -1;          // contents of "index": 0 for a camera's capture node
        QString usbSerial;       // "serial" of the USB device the node belongs to; empty when unknown
        quint16 usbVendorId = 0; // "idVendor" and "idProduct" of that device; 0 when unknown
        quint16 usbProductId = 0;
    };

    explicit V4l2DeviceDirectory(QString sysfsRoot = QStringLiteral("/sys/class/video4linux"),
                                 QString devRoot = QStringLiteral("/dev"));

    // All nodes, ordered by their number (video2 before video10).
    QVector<Node> nodes() const;
    // The capture node whose card name is cardName, or ends in ": " and cardName (CameraName): the
    // lowest-numbered one with index 0.
    std::optional<Node> findCaptureNode(const QString &cardName) const;

private:
    QString sysfsRoot;
    QString devRoot;
};
