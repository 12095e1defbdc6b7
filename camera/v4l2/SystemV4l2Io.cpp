#include "camera/v4l2/SystemV4l2Io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int SystemV4l2Io::open(const QString &path)
{
    return ::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

int SystemV4l2Io::close(int fd)
{
    return ::close(fd);
}

int SystemV4l2Io::ioctl(int fd, unsigned long request, void *arg)
{
    int result;
    do {
        result = ::ioctl(fd, request, arg);
    } while (result == -1 && errno == EINTR);
    return result;
}
