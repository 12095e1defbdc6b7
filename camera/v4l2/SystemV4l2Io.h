#pragma once

#include "camera/v4l2/V4l2Io.h"

// The kernel's V4L2 device nodes. Non-blocking opens, close-on-exec, ioctls retried on EINTR.
class SystemV4l2Io final : public V4l2Io
{
public:
    int open(const QString &path) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void *arg) override;
};
