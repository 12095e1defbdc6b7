#pragma once

#include "CameraConfig.h"
#include "FramePainter.h"
#include "SceneState.h"
#include "SharedState.h"

#include <linux/videodev2.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// One open of the node: the descriptor the client holds (an eventfd that is readable exactly when the
// client should look: a frame is done, or the camera is gone) and its V4L2 priority.
struct DeviceHandle
{
    struct Subscription
    {
        uint32_t id;
        uint32_t flags;
    };
    int fd = -1;
    uint32_t priority = V4L2_PRIORITY_DEFAULT;
    bool signalled = false;
    std::vector<Subscription> subscriptions; // control events
    std::deque<v4l2_event> events;           // at most one per control: a newer change merges
    uint32_t eventSequence = 0;
};

// One plugged-in virtual UVC camera: its formats, controls and capture queue, answering the V4L2
// ioctls as uvcvideo and videobuf2 answer them, and a frame thread that fills queued buffers at the
// frame rate. Every member may be called from any thread: they take the device's mutex (a blocking
// dequeue waits on it, releasing it). Buffers live in one memfd that clients map.
class VirtualDevice
{
public:
    // The camera's capture node, or its metadata node (uvcvideo's second node, V4L2_META_FMT_UVC).
    VirtualDevice(const CameraConfig &config, int node, bool metadata = false);
    ~VirtualDevice();
    VirtualDevice(const VirtualDevice &) = delete;
    VirtualDevice &operator=(const VirtualDevice &) = delete;

    int node() const { return nodeNumber; }
    bool isMetadata() const { return metadata; }

    void attach(DeviceHandle *handle);
    // The handle's descriptor is now fd (the one it had is being closed, a copy stays open).
    void rebind(DeviceHandle *handle, int fd);
    // Releases what the handle held (its queue, its priority); the caller closes the descriptor after.
    void detach(DeviceHandle *handle);

    // The ioctl's result: 0, or -1 with errno set.
    int ioctl(DeviceHandle *handle, unsigned long request, void *arg);
    // The memfd and the offset within it that a client's mmap of (offset, length) maps; false when the
    // range is not one of the buffers. Counts the mapping for the buffer's MAPPED flag.
    bool mapBuffer(off_t offset, size_t length, int *memfd, int *index);
    void unmapBuffer(int index);
    bool isUnplugged();
    // True when the handle has an event to dequeue (poll's POLLPRI, select's exceptional condition).
    bool hasEvents(const DeviceHandle *handle);

    // From the control channel: the camera leaves the bus (every call on it fails with ENODEV, poll
    // reports an error), stops sending frames, or sends them again.
    void unplug();
    void setStalled(bool stalled);
    // Plugged in again: the values and the streamer other processes left are forgotten.
    void resetShared();

private:
    struct Buffer
    {
        uint32_t bytesused = 0;
        uint32_t sequence = 0;
        timeval timestamp{};
        int mappings = 0;
        bool queued = false;
        bool done = false;
        bool error = false; // V4L2_BUF_FLAG_ERROR: the frame is damaged
    };
    struct Control
    {
        uint32_t id;
        const char *name;
        int32_t minimum, maximum, step, defaultValue, value;
    };

    int formatIoctl(DeviceHandle *handle, unsigned long request, void *arg);
    int metadataFormatIoctl(DeviceHandle *handle, unsigned long request, void *arg);
    static bool answersMetadata(unsigned long request);
    uint32_t bufferSize() const;
    size_t writeMetadata(uint8_t *data, int64_t nowNs, uint32_t frameNumber) const;
    int controlIoctl(DeviceHandle *handle, unsigned long request, void *arg);
    int bufferIoctl(DeviceHandle *handle, unsigned long request, void *arg,
                    std::unique_lock<std::mutex> &lock);
    int extControls(DeviceHandle *handle, unsigned long request, v4l2_ext_controls *controls);
    bool outranked(const DeviceHandle *handle) const;
    bool streamedElsewhere();
    void claimStream(bool claim);
    // Runs call with the control values as every process shares them, and shares what it left.
    int withSharedValues(const std::function<int()> &call);
    uint32_t highestPriority() const;
    int eventIoctl(DeviceHandle *handle, unsigned long request, void *arg);
    void queueEvent(DeviceHandle *handle, const struct Control &control, uint32_t changes);
    void controlChanged(const DeviceHandle *writer, const struct Control &control);
    void tryFormat(v4l2_pix_format *pix) const;
    std::vector<const CameraConfig::Mode *> modesOf(uint32_t format) const;
    const CameraConfig::Mode *currentMode() const;
    Control *findControl(uint32_t id);
    const Control *nextControl(uint32_t after) const;
    void fillBuffer(v4l2_buffer *buffer, uint32_t index) const;
    int requestBuffers(DeviceHandle *handle, v4l2_requestbuffers *request,
                       std::unique_lock<std::mutex> &lock);
    int dequeue(DeviceHandle *handle, v4l2_buffer *buffer, std::unique_lock<std::mutex> &lock);
    void streamOn();
    void streamOff(std::unique_lock<std::mutex> &lock);
    void freeBuffers();
    void updateReadiness();
    void frameLoop();

    const CameraConfig config;
    const int nodeNumber;
    const bool metadata;
    const uint32_t bufferType;
    std::vector<uint32_t> formats;

    std::mutex mutex;
    std::condition_variable bufferDone; // a buffer was done, the stream stopped or the camera left
    std::condition_variable frameClock; // wakes the frame thread to stop
    std::vector<DeviceHandle *> handles;
    v4l2_pix_format current{};
    std::vector<Control> controls;
    SceneState scene; // what the control writes made of the picture
    bool unplugged = false;
    bool stalled = false;

    DeviceHandle *owner = nullptr; // the handle whose buffers these are
    std::vector<Buffer> buffers;
    std::deque<uint32_t> queuedOrder, doneOrder;
    size_t stride = 0; // page-aligned buffer size within the memfd
    int memfd = -1;
    uint8_t *memory = nullptr; // the frame thread's view of the memfd
    bool streaming = false;
    bool stopFrames = false;
    uint32_t sequence = 0;
    std::thread frames;
    FramePainter painter;
    std::unique_ptr<SharedState> shared;
};
