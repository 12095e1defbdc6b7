// The libc entry points a V4L2 client calls, answered for the virtual camera's node, its descriptors,
// its buffer mappings and its sysfs facts; everything else goes on to libc unchanged.
#include "Faults.h"
#include "Journal.h"
#include "PathView.h"
#include "RealCalls.h"
#include "VirtualCamera.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#define TARN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
const RealCalls &real()
{
    return RealCalls::get();
}

// Paths worth a look: the device nodes, their listing and links, and the sysfs and udev places.
// Anything else is passed on at once, without making the camera (a shell that inherited LD_PRELOAD
// makes nothing).
bool mayConcern(const char *path)
{
    static const char *const prefixes[] = {"/dev/video",
                                           "/dev/v4l",
                                           "/sys/class/video4linux",
                                           "/sys/dev/char/81:",
                                           "/sys/devices/platform/tarn-vcam-hcd.0",
                                           "/run/udev/data/c81:"};
    if (!path || path[0] != '/')
        return false;
    for (const char *prefix : prefixes) {
        if (std::strncmp(path, prefix, std::strlen(prefix)) == 0)
            return true;
    }
    return std::strcmp(path, "/dev") == 0 || std::strcmp(path, "/sys/class") == 0;
}

// A path as the program means it: relative to a directory descriptor on the way to the camera's
// places, it is known whole (PathView); else only an absolute path is.
struct Path
{
    Path(int dirfd, const char *path) : given(path)
    {
        whole = PathView::logical(dirfd, path);
        if (!whole.empty() && (VirtualCamera::existing() || mayConcern(whole.c_str())))
            redirected = VirtualCamera::instance().redirect(whole.c_str());
        // Relative to a kept directory, the whole path is used: the directory may be the private copy
        // of a place while the name leads out of it ("..").
        value = !redirected.empty() ? redirected.c_str() : byWhole() ? whole.c_str() : path;
        at = value == path ? dirfd : AT_FDCWD;
    }
    explicit Path(const char *path) : Path(AT_FDCWD, path) {}
    bool byWhole() const { return !whole.empty() && given && given[0] != '/'; }
    const char *given;
    std::string whole;
    std::string redirected;
    const char *value;
    int at;
};

int nodeOf(const char *path)
{
    return mayConcern(path) ? VirtualCamera::instance().nodeNumber(path) : -1;
}

int openPath(int dirfd, const char *path, int flags, mode_t mode)
{
    const Path target(dirfd, path);
    const int node = nodeOf(target.whole.empty() ? nullptr : target.whole.c_str());
    if (node >= 0)
        return VirtualCamera::instance().open(node, flags);
    const int fd = target.at == AT_FDCWD ? real().open(target.value, flags, mode)
                                         : real().openat(target.at, target.value, flags, mode);
    if (fd >= 0)
        PathView::opened(fd, target.whole);
    return fd;
}

mode_t modeArgument(int flags, va_list arguments)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(arguments, int)) : 0;
}

std::shared_ptr<VirtualDevice> deviceOf(int fd, DeviceHandle **handle = nullptr)
{
    VirtualCamera *camera = VirtualCamera::existing();
    return camera && fd >= 0 ? camera->deviceOf(fd, handle) : nullptr;
}

// stat of a path: 1 answered (0 or -1 in *result), 0 not the camera's node.
bool statNode(const char *path, struct stat *st, int *result, bool followLinks = true)
{
    // Not following, a stable link of /dev/v4l is the link itself.
    if (!followLinks && path && std::strncmp(path, "/dev/v4l/", 9) == 0)
        return false;
    const int node = nodeOf(path);
    if (node < 0)
        return false;
    if (VirtualCamera::instance().isPlugged(node)) {
        VirtualCamera::instance().describe(node, st);
        *result = 0;
    } else {
        errno = ENOENT;
        *result = -1;
    }
    return true;
}

bool fstatNode(int fd, struct stat *st)
{
    VirtualCamera *camera = VirtualCamera::existing();
    const int node = camera && fd >= 0 ? camera->nodeOf(fd) : -1;
    if (node < 0)
        return false;
    camera->describe(node, st);
    return true;
}

int statPath(const char *path, struct stat *st, bool followLinks)
{
    int result = 0;
    if (statNode(path, st, &result, followLinks))
        return result;
    const Path target(path);
    return followLinks ? real().stat(target.value, st) : real().lstat(target.value, st);
}

int pollResult(struct pollfd *fds, nfds_t count, int ready)
{
    if (ready < 0 || !VirtualCamera::existing())
        return ready;
    for (nfds_t i = 0; i < count; ++i) {
        DeviceHandle *handle = nullptr;
        const std::shared_ptr<VirtualDevice> device = deviceOf(fds[i].fd, &handle);
        if (!device)
            continue;
        if ((fds[i].events & POLLPRI) && device->hasEvents(handle)) {
            if (fds[i].revents == 0)
                ++ready;
            fds[i].revents |= POLLPRI;
        }
        if (!device->isUnplugged())
            continue;
        // A camera that left the bus: an error, as v4l2's core reports it for an unregistered node,
        // not data to read (VirtualDevice::unplug).
        if (fds[i].revents == 0)
            ++ready;
        fds[i].revents = short(POLLERR | POLLHUP | (fds[i].events & POLLPRI));
    }
    return ready;
}

const char *controlName(uint32_t id)
{
    switch (id) {
    case V4L2_CID_BRIGHTNESS:
        return "brightness";
    case V4L2_CID_CONTRAST:
        return "contrast";
    case V4L2_CID_SATURATION:
        return "saturation";
    default:
        return "control";
    }
}

// The device's answer, with the control-read delay in front and the journal of control writes behind.
int deviceIoctl(VirtualDevice &device, DeviceHandle *handle, unsigned long request, void *argument)
{
    if (request == VIDIOC_G_CTRL || request == VIDIOC_G_EXT_CTRLS)
        Faults::instance().delayControlRead();
    if ((request == VIDIOC_S_CTRL || request == VIDIOC_S_EXT_CTRLS) && argument && !device.isMetadata()) {
        // A control write is a USB request to the camera: it can take its time, or fail.
        Faults::instance().delayControlWrite();
        if (const int error = Faults::instance().controlWriteError()) {
            if (request == VIDIOC_S_EXT_CTRLS)
                static_cast<v4l2_ext_controls *>(argument)->error_idx =
                    static_cast<v4l2_ext_controls *>(argument)->count;
            errno = error;
            return -1;
        }
    }
    if (request == VIDIOC_S_CTRL && argument) {
        const v4l2_control sent = *static_cast<v4l2_control *>(argument);
        const int result = device.ioctl(handle, request, argument);
        if (result == 0)
            Journal::write("%s %d", controlName(sent.id), sent.value);
        return result;
    }
    if (request == VIDIOC_S_EXT_CTRLS && argument) {
        const auto *list = static_cast<v4l2_ext_controls *>(argument);
        std::vector<v4l2_ext_control> sent;
        if (list->controls && list->count <= 1024)
            sent.assign(list->controls, list->controls + list->count);
        const int result = device.ioctl(handle, request, argument);
        if (result == 0) {
            for (const v4l2_ext_control &item : sent)
                Journal::write("%s %d", controlName(item.id), item.value);
        }
        return result;
    }
    return device.ioctl(handle, request, argument);
}

} // namespace

TARN_EXPORT int open(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openPath(AT_FDCWD, path, flags, mode);
}

TARN_EXPORT int open64(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openPath(AT_FDCWD, path, flags, mode);
}

TARN_EXPORT int __open_2(const char *path, int flags)
{
    return openPath(AT_FDCWD, path, flags, 0);
}

TARN_EXPORT int __open64_2(const char *path, int flags)
{
    return openPath(AT_FDCWD, path, flags, 0);
}

TARN_EXPORT int openat(int dirfd, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openPath(dirfd, path, flags, mode);
}

TARN_EXPORT int openat64(int dirfd, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openPath(dirfd, path, flags, mode);
}

TARN_EXPORT int __openat_2(int dirfd, const char *path, int flags)
{
    return openPath(dirfd, path, flags, 0);
}

TARN_EXPORT int __openat64_2(int dirfd, const char *path, int flags)
{
    return openPath(dirfd, path, flags, 0);
}

TARN_EXPORT FILE *fopen(const char *path, const char *mode)
{
    const Path target(path);
    return real().fopen(target.value, mode);
}

TARN_EXPORT FILE *fopen64(const char *path, const char *mode)
{
    const Path target(path);
    return real().fopen(target.value, mode);
}

TARN_EXPORT DIR *opendir(const char *path)
{
    const Path target(path);
    DIR *dir = real().opendir(target.value);
    if (dir && VirtualCamera::existing())
        PathView::listing(dir, VirtualCamera::instance().listed(target.whole));
    return dir;
}

// A listing of /dev or /sys/class: the machine's names, then the camera's (PathView::listing).
TARN_EXPORT struct dirent64 *readdir64(DIR *dir)
{
    static const auto next = reinterpret_cast<struct dirent64 *(*)(DIR *)>(::dlsym(RTLD_NEXT, "readdir64"));
    const int error = errno;
    struct dirent64 *entry = next(dir);
    if (!VirtualCamera::existing())
        return entry;
    if (entry) {
        PathView::seen(dir, entry->d_name);
        return entry;
    }
    if (struct dirent64 *extra = PathView::nextExtra(dir)) {
        errno = error;
        return extra;
    }
    return nullptr;
}

TARN_EXPORT struct dirent *readdir(DIR *dir)
{
    static_assert(sizeof(struct dirent) == sizeof(struct dirent64), "one layout on a 64-bit system");
    return reinterpret_cast<struct dirent *>(readdir64(dir));
}

TARN_EXPORT int closedir(DIR *dir)
{
    static const auto next = reinterpret_cast<int (*)(DIR *)>(::dlsym(RTLD_NEXT, "closedir"));
    PathView::closedDir(dir);
    return next(dir);
}

// libc's scandir reads the directory without the readdir above: done here with it.
TARN_EXPORT int scandir64(const char *path, struct dirent64 ***list, int (*keep)(const struct dirent64 *),
                          int (*order)(const struct dirent64 **, const struct dirent64 **))
{
    DIR *dir = opendir(path);
    if (!dir)
        return -1;
    std::vector<struct dirent64 *> kept;
    while (struct dirent64 *entry = readdir64(dir)) {
        if (keep && !keep(entry))
            continue;
        auto *copy = static_cast<struct dirent64 *>(std::malloc(sizeof *entry));
        std::memcpy(copy, entry, sizeof *entry);
        kept.push_back(copy);
    }
    closedir(dir);
    if (order)
        std::qsort(kept.data(), kept.size(), sizeof(struct dirent64 *),
                   reinterpret_cast<int (*)(const void *, const void *)>(order));
    *list = static_cast<struct dirent64 **>(std::malloc(sizeof(struct dirent64 *) * (kept.size() + 1)));
    std::copy(kept.begin(), kept.end(), *list);
    return int(kept.size());
}

TARN_EXPORT int scandir(const char *path, struct dirent ***list, int (*keep)(const struct dirent *),
                        int (*order)(const struct dirent **, const struct dirent **))
{
    using Keep = int (*)(const struct dirent64 *);
    using Order = int (*)(const struct dirent64 **, const struct dirent64 **);
    return scandir64(path, reinterpret_cast<struct dirent64 ***>(list), reinterpret_cast<Keep>(keep),
                     reinterpret_cast<Order>(order));
}

TARN_EXPORT int close(int fd)
{
    PathView::closed(fd);
    if (VirtualCamera *camera = VirtualCamera::existing())
        camera->release(fd);
    return real().close(fd);
}

// Copies of a node's descriptor share its open file, as the kernel's do (GStreamer's v4l2src streams on a
// dup of the descriptor it queried).
namespace {
int copiedDescriptor(int fd, int copy)
{
    VirtualCamera *camera = VirtualCamera::existing();
    if (copy >= 0 && camera)
        camera->copied(fd, copy);
    return copy;
}

int fcntlCall(int fd, int command, va_list arguments)
{
    void *argument = va_arg(arguments, void *);
    if (command == F_DUPFD || command == F_DUPFD_CLOEXEC)
        return copiedDescriptor(fd, real().fcntl(fd, command, int(reinterpret_cast<intptr_t>(argument))));
    return real().fcntl(fd, command, argument);
}
} // namespace

TARN_EXPORT int dup(int fd)
{
    return copiedDescriptor(fd, real().dup(fd));
}

TARN_EXPORT int dup2(int fd, int copy)
{
    return copiedDescriptor(fd, real().dup2(fd, copy));
}

TARN_EXPORT int dup3(int fd, int copy, int flags)
{
    return copiedDescriptor(fd, real().dup3(fd, copy, flags));
}

TARN_EXPORT int fcntl(int fd, int command, ...)
{
    va_list arguments;
    va_start(arguments, command);
    const int result = fcntlCall(fd, command, arguments);
    va_end(arguments);
    return result;
}

TARN_EXPORT int fcntl64(int fd, int command, ...)
{
    va_list arguments;
    va_start(arguments, command);
    const int result = fcntlCall(fd, command, arguments);
    va_end(arguments);
    return result;
}

TARN_EXPORT int ioctl(int fd, unsigned long request, ...)
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    DeviceHandle *handle = nullptr;
    if (const std::shared_ptr<VirtualDevice> device = deviceOf(fd, &handle))
        return deviceIoctl(*device, handle, request, argument);
    return real().ioctl(fd, request, argument);
}

TARN_EXPORT void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset)
{
    const std::shared_ptr<VirtualDevice> device = deviceOf(fd);
    if (!device)
        return real().mmap(address, length, protection, flags, fd, offset);
    int memfd = -1, index = -1;
    if (!device->mapBuffer(offset, length, &memfd, &index)) {
        errno = device->isUnplugged() ? ENODEV : EINVAL;
        return MAP_FAILED;
    }
    void *mapped = real().mmap(address, length, protection, flags, memfd, offset);
    if (mapped == MAP_FAILED)
        device->unmapBuffer(index);
    else
        VirtualCamera::instance().mapped(mapped, length, device, index);
    return mapped;
}

TARN_EXPORT void *mmap64(void *address, size_t length, int protection, int flags, int fd, off_t offset)
{
    return mmap(address, length, protection, flags, fd, offset);
}

TARN_EXPORT int munmap(void *address, size_t length)
{
    static const auto next = reinterpret_cast<int (*)(void *, size_t)>(::dlsym(RTLD_NEXT, "munmap"));
    const int result = next(address, length);
    if (result == 0) {
        if (VirtualCamera *camera = VirtualCamera::existing())
            camera->unmapped(address);
    }
    return result;
}

TARN_EXPORT int poll(struct pollfd *fds, nfds_t count, int timeout)
{
    return pollResult(fds, count, real().poll(fds, count, timeout));
}

TARN_EXPORT int ppoll(struct pollfd *fds, nfds_t count, const struct timespec *timeout, const sigset_t *mask)
{
    return pollResult(fds, count, real().ppoll(fds, count, timeout, mask));
}

// Control events are select's "exceptional condition" on a V4L2 node.
TARN_EXPORT int select(int count, fd_set *readable, fd_set *writable, fd_set *exceptional,
                       struct timeval *timeout)
{
    static const auto next = reinterpret_cast<int (*)(int, fd_set *, fd_set *, fd_set *, struct timeval *)>(
        ::dlsym(RTLD_NEXT, "select"));
    fd_set withEvents;
    FD_ZERO(&withEvents);
    int found = 0;
    for (int fd = 0; exceptional && VirtualCamera::existing() && fd < count; ++fd) {
        DeviceHandle *handle = nullptr;
        const std::shared_ptr<VirtualDevice> device =
            FD_ISSET(fd, exceptional) ? deviceOf(fd, &handle) : nullptr;
        if (device && device->hasEvents(handle)) {
            FD_SET(fd, &withEvents);
            ++found;
        }
    }
    if (found == 0)
        return next(count, readable, writable, exceptional, timeout);
    timeval now{0, 0};
    int ready = next(count, readable, writable, exceptional, &now);
    if (ready < 0)
        return ready;
    for (int fd = 0; fd < count; ++fd) {
        if (FD_ISSET(fd, &withEvents)) {
            if (!FD_ISSET(fd, exceptional))
                ++ready;
            FD_SET(fd, exceptional);
        }
    }
    return ready;
}

TARN_EXPORT ssize_t read(int fd, void *data, size_t size)
{
    // A UVC camera has no read() I/O: only streaming.
    if (deviceOf(fd)) {
        errno = EINVAL;
        return -1;
    }
    return real().read(fd, data, size);
}

TARN_EXPORT ssize_t write(int fd, const void *data, size_t size)
{
    if (deviceOf(fd)) {
        errno = EINVAL;
        return -1;
    }
    return real().write(fd, data, size);
}

TARN_EXPORT int fstat(int fd, struct stat *st)
{
    return fstatNode(fd, st) ? 0 : real().fstat(fd, st);
}

TARN_EXPORT int fstat64(int fd, struct stat64 *st)
{
    return fstat(fd, reinterpret_cast<struct stat *>(st));
}

TARN_EXPORT int __fxstat(int version, int fd, struct stat *st)
{
    return fstatNode(fd, st) ? 0 : real().fxstat(version, fd, st);
}

TARN_EXPORT int __fxstat64(int version, int fd, struct stat64 *st)
{
    return __fxstat(version, fd, reinterpret_cast<struct stat *>(st));
}

TARN_EXPORT int stat(const char *path, struct stat *st)
{
    return statPath(path, st, true);
}

TARN_EXPORT int stat64(const char *path, struct stat64 *st)
{
    return statPath(path, reinterpret_cast<struct stat *>(st), true);
}

TARN_EXPORT int lstat(const char *path, struct stat *st)
{
    return statPath(path, st, false);
}

TARN_EXPORT int lstat64(const char *path, struct stat64 *st)
{
    return statPath(path, reinterpret_cast<struct stat *>(st), false);
}

TARN_EXPORT int __xstat(int version, const char *path, struct stat *st)
{
    int result = 0;
    if (statNode(path, st, &result))
        return result;
    const Path target(path);
    return real().xstat(version, target.value, st);
}

TARN_EXPORT int __xstat64(int version, const char *path, struct stat64 *st)
{
    return __xstat(version, path, reinterpret_cast<struct stat *>(st));
}

TARN_EXPORT int __lxstat(int version, const char *path, struct stat *st)
{
    int result = 0;
    if (statNode(path, st, &result, false))
        return result;
    const Path target(path);
    return real().lxstat(version, target.value, st);
}

TARN_EXPORT int __lxstat64(int version, const char *path, struct stat64 *st)
{
    return __lxstat(version, path, reinterpret_cast<struct stat *>(st));
}

TARN_EXPORT int fstatat(int dirfd, const char *path, struct stat *st, int flags)
{
    if ((flags & AT_EMPTY_PATH) && !*path && fstatNode(dirfd, st))
        return 0;
    const Path target(dirfd, path);
    int result = 0;
    if (!target.whole.empty() && statNode(target.whole.c_str(), st, &result, !(flags & AT_SYMLINK_NOFOLLOW)))
        return result;
    return real().fstatat(target.at, target.value, st, flags);
}

TARN_EXPORT int fstatat64(int dirfd, const char *path, struct stat64 *st, int flags)
{
    return fstatat(dirfd, path, reinterpret_cast<struct stat *>(st), flags);
}

TARN_EXPORT int statx(int dirfd, const char *path, int flags, unsigned int mask, struct statx *sx)
{
    struct stat st;
    int result = 0;
    const bool byFd = (flags & AT_EMPTY_PATH) && !*path;
    const Path target(dirfd, path);
    if ((byFd && fstatNode(dirfd, &st)) ||
        (!byFd && !target.whole.empty() &&
         statNode(target.whole.c_str(), &st, &result, !(flags & AT_SYMLINK_NOFOLLOW)))) {
        if (result != 0)
            return result;
        std::memset(sx, 0, sizeof *sx);
        sx->stx_mask = STATX_BASIC_STATS;
        sx->stx_mode = uint16_t(st.st_mode);
        sx->stx_nlink = uint32_t(st.st_nlink);
        sx->stx_gid = st.st_gid;
        sx->stx_ino = st.st_ino;
        sx->stx_blksize = uint32_t(st.st_blksize);
        sx->stx_rdev_major = major(st.st_rdev);
        sx->stx_rdev_minor = minor(st.st_rdev);
        sx->stx_dev_major = major(st.st_dev);
        sx->stx_dev_minor = minor(st.st_dev);
        return 0;
    }
    return real().statx(target.at, target.value, flags, mask, sx);
}

// libudev takes a directory for a device only on sysfs: the private copy of a /sys place is one.
TARN_EXPORT int fstatfs(int fd, struct statfs *st)
{
    static const auto next = reinterpret_cast<int (*)(int, struct statfs *)>(::dlsym(RTLD_NEXT, "fstatfs"));
    const int result = next(fd, st);
    if (result == 0 && VirtualCamera::existing() && PathView::of(fd).compare(0, 5, "/sys/") == 0)
        st->f_type = SYSFS_MAGIC;
    return result;
}

TARN_EXPORT int fstatfs64(int fd, struct statfs64 *st)
{
    return fstatfs(fd, reinterpret_cast<struct statfs *>(st));
}

TARN_EXPORT int statfs(const char *path, struct statfs *st)
{
    static const auto next =
        reinterpret_cast<int (*)(const char *, struct statfs *)>(::dlsym(RTLD_NEXT, "statfs"));
    const Path target(path);
    const int result = next(target.value, st);
    if (result == 0 && !target.redirected.empty() && target.whole.compare(0, 5, "/sys/") == 0)
        st->f_type = SYSFS_MAGIC;
    return result;
}

TARN_EXPORT int statfs64(const char *path, struct statfs64 *st)
{
    return statfs(path, reinterpret_cast<struct statfs *>(st));
}

// Extended attributes of the places (ls -l asks for them): the private copy's.
TARN_EXPORT ssize_t getxattr(const char *path, const char *name, void *value, size_t size)
{
    static const auto next = reinterpret_cast<ssize_t (*)(const char *, const char *, void *, size_t)>(
        ::dlsym(RTLD_NEXT, "getxattr"));
    const Path target(path);
    return next(target.value, name, value, size);
}

TARN_EXPORT ssize_t lgetxattr(const char *path, const char *name, void *value, size_t size)
{
    static const auto next = reinterpret_cast<ssize_t (*)(const char *, const char *, void *, size_t)>(
        ::dlsym(RTLD_NEXT, "lgetxattr"));
    const Path target(path);
    return next(target.value, name, value, size);
}

TARN_EXPORT ssize_t listxattr(const char *path, char *list, size_t size)
{
    static const auto next =
        reinterpret_cast<ssize_t (*)(const char *, char *, size_t)>(::dlsym(RTLD_NEXT, "listxattr"));
    const Path target(path);
    return next(target.value, list, size);
}

TARN_EXPORT ssize_t llistxattr(const char *path, char *list, size_t size)
{
    static const auto next =
        reinterpret_cast<ssize_t (*)(const char *, char *, size_t)>(::dlsym(RTLD_NEXT, "llistxattr"));
    const Path target(path);
    return next(target.value, list, size);
}

TARN_EXPORT int access(const char *path, int mode)
{
    const int node = nodeOf(path);
    if (node >= 0) {
        if (VirtualCamera::instance().isPlugged(node))
            return 0;
        errno = ENOENT;
        return -1;
    }
    const Path target(path);
    return real().access(target.value, mode);
}

TARN_EXPORT int faccessat(int dirfd, const char *path, int mode, int flags)
{
    const Path target(dirfd, path);
    if (nodeOf(target.whole.c_str()) >= 0)
        return access(target.whole.c_str(), mode);
    return real().faccessat(target.at, target.value, mode, flags);
}

TARN_EXPORT ssize_t readlink(const char *path, char *buffer, size_t size)
{
    const Path target(path);
    return real().readlink(target.value, buffer, size);
}

TARN_EXPORT ssize_t readlinkat(int dirfd, const char *path, char *buffer, size_t size)
{
    static const auto next =
        reinterpret_cast<ssize_t (*)(int, const char *, char *, size_t)>(::dlsym(RTLD_NEXT, "readlinkat"));
    const Path target(dirfd, path);
    return next(target.at, target.value, buffer, size);
}

TARN_EXPORT char *realpath(const char *path, char *resolved)
{
    const int node = nodeOf(path);
    if (node >= 0) {
        // A stable link resolves to the node it names.
        const std::string name = "/dev/video" + std::to_string(node);
        if (!resolved)
            return ::strdup(name.c_str());
        std::strncpy(resolved, name.c_str(), PATH_MAX - 1);
        resolved[PATH_MAX - 1] = '\0';
        return resolved;
    }
    const Path target(path);
    return real().realpath(target.value, resolved);
}
