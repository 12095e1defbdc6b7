#pragma once

#include "CameraConfig.h"
#include "SysfsTree.h"
#include "VirtualDevice.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

// The process's virtual cameras (one, or the list of TARN_VCAM_CAMERAS): the nodes they answer at now,
// each camera's capture node and metadata node, the descriptors open on them, the mappings of their
// buffers, their sysfs and /dev facts and the control channel. The libc entry points ask it
// first; every member may be called from any thread (one mutex guards the tables, never held while
// a device call runs).
class VirtualCamera
{
public:
    // Made at first use and kept to the end of the process (frame threads may outlive main()).
    static VirtualCamera &instance();
    // The camera when it was made already (a descriptor can be its own only then); null before.
    static VirtualCamera *existing();

    // The N of a path "/dev/videoN" (or a /dev/v4l link to it) the cameras answer for, now or before a
    // replug; -1 otherwise.
    int nodeNumber(const char *path);
    // True when node is the number it answers at now.
    bool isPlugged(int node);
    // Opens node: a descriptor, or -1 with errno (the configured fault; ENOENT when not plugged there).
    int open(int node, int flags);
    // True when fd is one of ours: fd no longer stands for its open file, which is released with its
    // last descriptor, as the kernel releases one; the caller closes fd.
    bool release(int fd);
    // copy, a new descriptor of fd made by dup, dup2, dup3 or fcntl, shares fd's open file when fd is
    // one of ours (its streaming, buffers and priority), and closes on its own.
    void copied(int fd, int copy);
    std::shared_ptr<VirtualDevice> deviceOf(int fd, DeviceHandle **handle = nullptr);
    // A character device 81:N, or an unplugged one's descriptor.
    void describe(int node, struct stat *st) const;
    int nodeOf(int fd);

    // The range client memory was mapped at for buffer index of device; forgotten by unmapped.
    void mapped(void *address, size_t length, const std::shared_ptr<VirtualDevice> &device, int index);
    void unmapped(void *address);

    std::string redirect(const char *path) const { return tree.redirect(path); }
    // The names a listing of the directory at path shows besides the machine's: the nodes in /dev, the
    // video4linux class in /sys/class.
    std::vector<std::pair<std::string, unsigned char>> listed(const std::string &path);
    // At the end of the process that made it: its sysfs folder goes.
    void removeTree() { tree.remove(); }

    void unplug();
    void plug();
    void setStalled(bool stalled);

private:
    VirtualCamera();
    // The plugged-in device answering at node; null when none does. Under the mutex.
    std::shared_ptr<VirtualDevice> deviceAt(int node) const;
    // Plugs camera in at the next free node numbers: its capture node, then its metadata node.
    void plugIn(size_t camera);
    void startListening();
    void listen();

    // An open file of the node: the descriptors a client holds on it are copies of one eventfd; the
    // device signals through one of them (handle->fd).
    struct Open
    {
        std::shared_ptr<VirtualDevice> device;
        std::unique_ptr<DeviceHandle> handle;
        std::vector<int> fds;
        ~Open();
        // fd no longer stands for the open file.
        void forget(int fd);
    };
    struct Mapping
    {
        std::shared_ptr<VirtualDevice> device;
        int index;
    };

    // One USB camera: a capture node and a metadata node, both null while unplugged.
    struct Camera
    {
        CameraConfig config;
        std::shared_ptr<VirtualDevice> capture, metadata;
    };

    const CameraConfig config; // the first camera's, with the settings of the library itself
    SysfsTree tree;
    mutable std::mutex mutex;
    std::vector<Camera> cameras;
    int nextNode; // the numbers from config.node up to it are the cameras' (now or before a replug)
    std::map<int, std::shared_ptr<Open>> opens;
    std::map<void *, Mapping> mappings;
    std::atomic<bool> listening{false};
};
