#pragma once

#include "camera/v4l2/V4l2Io.h"

#include <QHash>
#include <QMap>
#include <QMutex>
#include <QStringList>

#include <atomic>

// A model of V4L2 device nodes behind the camera library's system calls: each node path has a device
// with capabilities, a current capture format and a set of controls. It checks that every ioctl goes
// to an open descriptor and counts what was opened and closed. Thread-safe.
class FakeV4l2Io final : public V4l2Io
{
public:
    struct Device
    {
        bool opens = true;
        quint32 deviceCaps = 0; // V4L2_CAP_* of the node; 0 = video capture + streaming
        bool queryCapFails = false;
        bool formatFails = false;
        quint32 width = 640;
        quint32 height = 480;
        QMap<quint32, int> controls; // id → value; ids not present are refused with EINVAL
    };

    void addDevice(const QString &path, const Device &device);
    void removeDevice(const QString &path); // unplugged: open descriptors answer ENODEV
    Device device(const QString &path) const;
    void setControl(const QString &path, quint32 id, int value);
    // Every ioctl sleeps this long (to widen races in threading tests).
    void setIoctlDelayMs(int ms) { ioctlDelayMs.store(ms); }

    int open(const QString &path) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void *arg) override;

    QStringList openedPaths() const; // every successful open, in order
    int openDescriptors() const;
    int maxOpenDescriptors() const;
    // Calls that named a descriptor that was not open (must stay 0).
    int misuses() const;
    // S_CTRL requests, as "path id=value".
    QStringList controlWrites() const;

private:
    mutable QMutex mutex;
    QHash<QString, Device> devices;
    QHash<int, QString> descriptors;
    QStringList opened;
    QStringList writes;
    int nextFd = 100;
    int maxOpen = 0;
    int misuseCount = 0;
    std::atomic<int> ioctlDelayMs{0};
};
