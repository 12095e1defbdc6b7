#include "VirtualCamera.h"

#include "Faults.h"
#include "Journal.h"
#include "RealCalls.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {
// The private sysfs folder goes with the process that made it (not with a forked child).
pid_t maker = 0;
std::atomic<VirtualCamera *> made{nullptr};
} // namespace

VirtualCamera *VirtualCamera::existing()
{
    return made;
}

VirtualCamera &VirtualCamera::instance()
{
    static VirtualCamera *camera = [] {
        auto *created = new VirtualCamera;
        made = created;
        maker = ::getpid();
        return created;
    }();
    return *camera;
}

VirtualCamera::VirtualCamera() : config(CameraConfig::fromEnvironment()), nextNode(config.node)
{
    const std::vector<CameraConfig> configs = CameraConfig::camerasFromEnvironment();
    for (size_t i = 0; i < configs.size(); ++i) {
        cameras.push_back(Camera{configs[i], nullptr, nullptr});
        plugIn(i);
    }
    std::atexit([] {
        if (made.load() && ::getpid() == maker)
            made.load()->removeTree();
    });
}

void VirtualCamera::startListening()
{
    // Only a process that uses the camera takes commands: a shell or a tool that merely inherited
    // the environment must not read them away.
    if (config.controlPath.empty() || listening.exchange(true))
        return;
    std::thread([this] { listen(); }).detach();
}

void VirtualCamera::listen()
{
    pthread_setname_np(pthread_self(), "vcam-control");
    ::mkfifo(config.controlPath.c_str(), 0600);
    // Read and write: the FIFO never reads as ended when a writer goes away.
    const int fd = RealCalls::get().open(config.controlPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    std::string pending;
    char chunk[256];
    for (;;) {
        const ssize_t got = RealCalls::get().read(fd, chunk, sizeof chunk);
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            break;
        }
        pending.append(chunk, size_t(got));
        for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const std::string command = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (command == "unplug")
                unplug();
            else if (command == "plug")
                plug();
            else if (command == "stall")
                setStalled(true);
            else if (command == "resume")
                setStalled(false);
            else if (!Faults::instance().apply(command))
                continue;
            Journal::write("command %s", command.c_str());
        }
    }
    RealCalls::get().close(fd);
}

int VirtualCamera::nodeNumber(const char *path)
{
    // A stable link of /dev/v4l reaches the node it names (../../videoN).
    char target[64];
    if (path && std::strncmp(path, "/dev/v4l/", 9) == 0) {
        const std::string copy = tree.redirect(path);
        const ssize_t length =
            copy.empty() ? -1 : RealCalls::get().readlink(copy.c_str(), target, sizeof target - 1);
        if (length <= 6 || std::strncmp(target, "../../", 6) != 0)
            return -1;
        target[length] = '\0';
        return nodeNumber(("/dev/" + std::string(target + 6)).c_str());
    }
    if (!path || std::strncmp(path, "/dev/video", 10) != 0 || path[10] < '0' || path[10] > '9')
        return -1;
    char *end = nullptr;
    const long number = std::strtol(path + 10, &end, 10);
    if (*end != '\0')
        return -1;
    std::lock_guard<std::mutex> lock(mutex);
    // The numbers it had before a replug stay its own (gone), not some other device's.
    return number >= config.node && number < nextNode ? int(number) : -1;
}

std::shared_ptr<VirtualDevice> VirtualCamera::deviceAt(int node) const
{
    for (const Camera &camera : cameras) {
        for (const std::shared_ptr<VirtualDevice> &device : {camera.capture, camera.metadata}) {
            if (device && device->node() == node)
                return device;
        }
    }
    return nullptr;
}

bool VirtualCamera::isPlugged(int node)
{
    std::lock_guard<std::mutex> lock(mutex);
    return deviceAt(node) != nullptr;
}

int VirtualCamera::open(int node, int flags)
{
    Faults::instance().delayOpen();
    std::unique_lock<std::mutex> lock(mutex);
    const std::shared_ptr<VirtualDevice> device = deviceAt(node);
    if (!device) {
        errno = ENOENT;
        return -1;
    }
    // Counted failures are the capture node's: a search that also opens the metadata node to look at
    // it must not use them up.
    if (const int error = Faults::instance().takeOpenError(!device->isMetadata())) {
        Journal::write("open video%d %s", node, strerrorname_np(error));
        errno = error;
        return -1;
    }
    const int fd =
        ::eventfd(0, (flags & O_NONBLOCK ? EFD_NONBLOCK : 0) | (flags & O_CLOEXEC ? EFD_CLOEXEC : 0));
    if (fd < 0)
        return -1;
    auto entry = std::make_shared<Open>();
    entry->device = device;
    entry->handle = std::make_unique<DeviceHandle>();
    entry->handle->fd = fd;
    entry->fds.push_back(fd);
    DeviceHandle *handle = entry->handle.get();
    std::shared_ptr<VirtualDevice> opened = device;
    opens[fd] = entry;
    lock.unlock();
    opened->attach(handle);
    startListening();
    Journal::write("open video%d ok", node);
    return fd;
}

VirtualCamera::Open::~Open()
{
    if (device)
        device->detach(handle.get());
}

void VirtualCamera::Open::forget(int fd)
{
    fds.erase(std::remove(fds.begin(), fds.end(), fd), fds.end());
    // The device signals frames through one of the descriptors still open.
    if (!fds.empty() && handle->fd == fd)
        device->rebind(handle.get(), fds.front());
}

bool VirtualCamera::release(int fd)
{
    std::unique_lock<std::mutex> lock(mutex);
    auto found = opens.find(fd);
    if (found == opens.end())
        return false;
    std::shared_ptr<Open> entry = std::move(found->second);
    opens.erase(found);
    entry->forget(fd);
    lock.unlock();
    entry.reset(); // the last descriptor of the open file releases it, outside the lock
    return true;
}

void VirtualCamera::copied(int fd, int copy)
{
    std::shared_ptr<Open> replaced, source; // released after the lock
    std::lock_guard<std::mutex> lock(mutex);
    if (copy < 0 || copy == fd)
        return;
    auto found = opens.find(fd);
    if (found != opens.end())
        source = found->second;
    // dup2 onto one of our descriptors closed that one first.
    auto previous = opens.find(copy);
    if (previous != opens.end()) {
        replaced = std::move(previous->second);
        opens.erase(previous);
        replaced->forget(copy);
    }
    if (source) {
        opens[copy] = source;
        source->fds.push_back(copy);
    }
}

std::shared_ptr<VirtualDevice> VirtualCamera::deviceOf(int fd, DeviceHandle **handle)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto found = opens.find(fd);
    if (found == opens.end())
        return nullptr;
    if (handle)
        *handle = found->second->handle.get();
    return found->second->device;
}

int VirtualCamera::nodeOf(int fd)
{
    const std::shared_ptr<VirtualDevice> owner = deviceOf(fd);
    return owner ? owner->node() : -1;
}

void VirtualCamera::describe(int node, struct stat *st) const
{
    std::memset(st, 0, sizeof *st);
    st->st_mode = S_IFCHR | 0660;
    st->st_rdev = makedev(81, unsigned(node));
    st->st_dev = makedev(0, 5);
    st->st_ino = 1000 + ino_t(node);
    st->st_nlink = 1;
    st->st_gid = 44; // video
    st->st_blksize = 4096;
}

void VirtualCamera::mapped(void *address, size_t, const std::shared_ptr<VirtualDevice> &owner, int index)
{
    std::lock_guard<std::mutex> lock(mutex);
    mappings[address] = Mapping{owner, index};
}

void VirtualCamera::unmapped(void *address)
{
    std::unique_lock<std::mutex> lock(mutex);
    auto found = mappings.find(address);
    if (found == mappings.end())
        return;
    Mapping mapping = std::move(found->second);
    mappings.erase(found);
    lock.unlock();
    mapping.device->unmapBuffer(mapping.index);
}

void VirtualCamera::unplug()
{
    std::vector<std::shared_ptr<VirtualDevice>> gone;
    std::unique_lock<std::mutex> lock(mutex);
    for (Camera &camera : cameras) {
        for (std::shared_ptr<VirtualDevice> *device : {&camera.capture, &camera.metadata}) {
            if (*device) {
                tree.withdraw((*device)->node());
                gone.push_back(std::move(*device));
            }
        }
    }
    lock.unlock();
    for (const std::shared_ptr<VirtualDevice> &device : gone)
        device->unplug();
}

void VirtualCamera::plug()
{
    std::lock_guard<std::mutex> lock(mutex);
    // Their format, size and rate are read again: a test or a person can plug in another kind of camera.
    const std::vector<CameraConfig> configs = CameraConfig::camerasFromEnvironment();
    for (size_t i = 0; i < cameras.size(); ++i) {
        if (cameras[i].capture)
            continue;
        if (i < configs.size() && configs[i].port == cameras[i].config.port)
            cameras[i].config = configs[i];
        plugIn(i);
        cameras[i].capture->resetShared();
        cameras[i].metadata->resetShared();
    }
}

void VirtualCamera::plugIn(size_t index)
{
    // As a real replug often does, a camera comes back as the next nodes.
    Camera &camera = cameras[index];
    camera.capture = std::make_shared<VirtualDevice>(camera.config, nextNode++);
    camera.metadata = std::make_shared<VirtualDevice>(camera.config, nextNode++, true);
    UsbIdentity usb;
    usb.card = camera.config.card;
    usb.product = camera.config.product;
    usb.manufacturer = camera.config.manufacturer;
    usb.serial = camera.config.serial;
    usb.vendorId = camera.config.vendorId;
    usb.productId = camera.config.productId;
    usb.port = camera.config.port;
    tree.publish(camera.capture->node(), 0, usb);
    tree.publish(camera.metadata->node(), 1, usb);
}

std::vector<std::pair<std::string, unsigned char>> VirtualCamera::listed(const std::string &path)
{
    std::vector<std::pair<std::string, unsigned char>> names;
    if (path == "/sys/class") {
        names.emplace_back("video4linux", DT_DIR);
    } else if (path == "/dev") {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Camera &camera : cameras) {
            for (const std::shared_ptr<VirtualDevice> &device : {camera.capture, camera.metadata}) {
                if (device)
                    names.emplace_back("video" + std::to_string(device->node()), DT_CHR);
            }
        }
        if (!names.empty())
            names.emplace_back("v4l", DT_DIR);
    }
    return names;
}

void VirtualCamera::setStalled(bool stalled)
{
    std::vector<std::shared_ptr<VirtualDevice>> plugged;
    std::unique_lock<std::mutex> lock(mutex);
    for (const Camera &camera : cameras) {
        if (camera.capture)
            plugged.push_back(camera.capture);
    }
    lock.unlock();
    for (const std::shared_ptr<VirtualDevice> &device : plugged)
        device->setStalled(stalled);
}
