#pragma once

#include <QString>

// The few system calls the V4L2 camera library makes on a device node. The real implementation is
// SystemV4l2Io; tests put a model of a device behind the same calls. Implementations are called from
// whichever thread the camera library runs on at the time (it serialises them with its own mutex).
class V4l2Io
{
public:
    virtual ~V4l2Io();

    // Opens a device node for reading and writing; a descriptor, or -1 with errno set.
    virtual int open(const QString &path) = 0;
    // 0, or -1 with errno set.
    virtual int close(int fd) = 0;
    // The ioctl's own result: 0 (or positive), or -1 with errno set.
    virtual int ioctl(int fd, unsigned long request, void *arg) = 0;
};
