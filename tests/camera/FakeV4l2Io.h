#pragma once

#include "camera/v4l2/V4l2Io.h"

#include <QHash>
#include <QMap>
#include <QMutex>
#include <QStringList>

#include <atomic>
#include <linux/videodev2.h>

// A model of V4L2 device nodes behind the camera library's system calls: each node path has a device
// with capabilities, a current capture format and a set of controls. It checks that every call goes
// to an open descriptor and records what was opened and written. Thread-safe.
class FakeV4l2Io final : public V4l2Io
{
public:
    struct Device
    {
        quint32 deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        quint32 width = 640;
        quint32 height = 480;
        QMap<quint32, int> controls; // id → value; ids not present are refused with EINVAL
        QString fault;               // the call that fails: "open", "querycap" or "format"
    };
    struct Record
    {
        QStringList opened; // every successful open, in order
        QStringList writes; // S_CTRL requests, as "path id=value"
        int openNow = 0;
        int maxOpen = 0;
        int misuses = 0; // calls that named a descriptor that was not open (must stay 0)
    };

    void addDevice(const QString &path, const Device &device);
    void removeDevice(const QString &path); // unplugged: open descriptors answer ENODEV
    Device device(const QString &path) const;
    Record record() const;
    // Every ioctl sleeps this long (to widen races in threading tests).
    std::atomic<int> ioctlDelayMs{0};

    int open(const QString &path) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void *arg) override;

private:
    mutable QMutex mutex;
    QHash<QString, Device> devices;
    QHash<int, QString> descriptors;
    Record made;
    int nextFd = 100;
};
