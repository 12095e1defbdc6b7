#include "media/DeviceWaiter.h"

extern "C" {
#include <libavutil/time.h>
}

#include <QtGlobal>

#include <algorithm>

#ifndef Q_OS_WIN
#include <cerrno>
#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#endif

namespace {
// How long one poll may last before the stop flag is looked at again.
constexpr int kSliceMs = 20;
} // namespace

void DeviceWaiter::beforeOpen(const QByteArray &devicePath)
{
    path = devicePath;
    before = descriptorsOn(path);
    fd = -1;
}

void DeviceWaiter::afterOpen()
{
    const std::vector<int> after = descriptorsOn(path);
    for (auto it = after.rbegin(); it != after.rend(); ++it) {
        if (std::find(before.begin(), before.end(), *it) == before.end()) {
            fd = *it;
            return;
        }
    }
}

void DeviceWaiter::reset()
{
    fd = -1;
    before.clear();
    path.clear();
}

bool DeviceWaiter::wait(int timeoutMs) const
{
#ifdef Q_OS_WIN
    Q_UNUSED(timeoutMs);
    return false;
#else
    if (fd < 0)
        return false;
    const qint64 end = av_gettime_relative() + qint64(timeoutMs) * 1000;
    while (!stopped) {
        const qint64 left = (end - av_gettime_relative()) / 1000;
        if (left <= 0)
            return false;
        pollfd device{fd, POLLIN, 0};
        const int ready = ::poll(&device, 1, int(std::min<qint64>(left, kSliceMs)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
    return false;
#endif
}

std::vector<int> DeviceWaiter::descriptorsOn(const QByteArray &devicePath)
{
    std::vector<int> found;
#ifndef Q_OS_WIN
    struct stat node
    {
    };
    if (::stat(devicePath.constData(), &node) != 0 || !S_ISCHR(node.st_mode))
        return found;
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return found;
    while (const dirent *entry = ::readdir(dir)) {
        bool ok = false;
        const int descriptor = QByteArray(entry->d_name).toInt(&ok);
        struct stat st
        {
        };
        if (ok && descriptor != ::dirfd(dir) && ::fstat(descriptor, &st) == 0 && S_ISCHR(st.st_mode) &&
            st.st_rdev == node.st_rdev)
            found.push_back(descriptor);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
#else
    Q_UNUSED(devicePath);
#endif
    return found;
}
