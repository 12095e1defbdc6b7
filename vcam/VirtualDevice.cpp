#include "VirtualDevice.h"

#include "Faults.h"
#include "RealCalls.h"
#include "SysfsTree.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {
constexpr uint32_t kMaxBuffers = 32;

int fail(int error)
{
    errno = error;
    return -1;
}

uint32_t kernelVersion()
{
    utsname name{};
    unsigned major = 0, minor = 0, patch = 0;
    if (::uname(&name) == 0)
        std::sscanf(name.release, "%u.%u.%u", &major, &minor, &patch);
    return (major << 16) | (minor << 8) | std::min(patch, 255u);
}

const char *formatName(uint32_t format)
{
    switch (format) {
    case V4L2_PIX_FMT_YUYV:
        return "YUYV 4:2:2";
    case V4L2_PIX_FMT_MJPEG:
        return "Motion-JPEG";
    case V4L2_PIX_FMT_Y16:
        return "16-bit Greyscale";
    default:
        return "8-bit Greyscale";
    }
}

void copyText(uint8_t *to, size_t size, const std::string &text)
{
    std::memset(to, 0, size);
    std::memcpy(to, text.data(), std::min(size - 1, text.size()));
}

// uvcvideo's metadata buffers: a header per USB payload of a frame, room for this many bytes.
constexpr uint32_t kMetadataBufferSize = 10240;

int32_t clampToRange(int64_t value, int32_t minimum, int32_t maximum, int32_t step)
{
    value = std::clamp<int64_t>(value, minimum, maximum);
    value = minimum + (value - minimum + step / 2) / step * step;
    return int32_t(std::min<int64_t>(value, maximum));
}
} // namespace

VirtualDevice::VirtualDevice(const CameraConfig &cameraConfig, int node, bool metadataNode)
    : config(cameraConfig), nodeNumber(node), metadata(metadataNode),
      bufferType(metadataNode ? V4L2_BUF_TYPE_META_CAPTURE : V4L2_BUF_TYPE_VIDEO_CAPTURE)
{
    for (const CameraConfig::Mode &mode : config.modes) {
        if (std::find(formats.begin(), formats.end(), mode.format) == formats.end())
            formats.push_back(mode.format);
    }
    current.pixelformat = config.modes.front().format;
    current.width = config.modes.front().width;
    current.height = config.modes.front().height;
    tryFormat(&current);
    controls = {
        {V4L2_CID_USER_CLASS, "User Controls", 0, 0, 0, 0, 0},
        {V4L2_CID_BRIGHTNESS, "Brightness", 0, 255, 1, 128, 128},
    };
    // A thermal core's processing unit: the commands travel as contrast and saturation writes.
    if (config.commandControls) {
        controls.push_back({V4L2_CID_CONTRAST, "Contrast", 0, 15, 1, 1, 1});
        controls.push_back({V4L2_CID_SATURATION, "Saturation", 10, 40, 1, 10, 10});
    }
    // The state every process shares about the node, for a camera of this kind.
    std::string kind = config.card + (metadata ? "/metadata" : "");
    std::vector<int32_t> defaults;
    for (const Control &control : controls) {
        kind += "/" + std::to_string(control.id) + ":" + std::to_string(control.minimum) + ":" +
                std::to_string(control.maximum) + ":" + std::to_string(control.defaultValue);
        defaults.push_back(control.defaultValue);
    }
    uint32_t fingerprint = 2166136261u;
    for (char c : kind)
        fingerprint = (fingerprint ^ uint8_t(c)) * 16777619u;
    shared = std::make_unique<SharedState>(node, fingerprint, defaults);
}

void VirtualDevice::resetShared()
{
    shared->reset();
}

bool VirtualDevice::streamedElsewhere()
{
    bool held = false;
    shared->locked([&](SharedState::Record &record) { held = SharedState::heldByOther(record); });
    return held;
}

void VirtualDevice::claimStream(bool claim)
{
    shared->locked([claim](SharedState::Record &record) {
        if (claim)
            record.streamer = ::getpid();
        else if (record.streamer == ::getpid())
            record.streamer = 0;
    });
}

int VirtualDevice::withSharedValues(const std::function<int()> &call)
{
    int result = 0;
    shared->locked([&](SharedState::Record &record) {
        for (size_t i = 0; i < controls.size() && i < SharedState::MaxValues; ++i)
            controls[i].value = record.values[i];
        result = call();
        for (size_t i = 0; i < controls.size() && i < SharedState::MaxValues; ++i)
            record.values[i] = controls[i].value;
    });
    return result;
}

VirtualDevice::~VirtualDevice()
{
    std::unique_lock<std::mutex> lock(mutex);
    streamOff(lock);
    freeBuffers();
}

void VirtualDevice::attach(DeviceHandle *handle)
{
    std::lock_guard<std::mutex> lock(mutex);
    handles.push_back(handle);
    updateReadiness();
}

void VirtualDevice::rebind(DeviceHandle *handle, int fd)
{
    std::lock_guard<std::mutex> lock(mutex);
    handle->fd = fd;
}

void VirtualDevice::detach(DeviceHandle *handle)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (owner == handle) {
        streamOff(lock);
        freeBuffers();
        owner = nullptr;
        claimStream(false);
    }
    handles.erase(std::remove(handles.begin(), handles.end(), handle), handles.end());
}

bool VirtualDevice::isUnplugged()
{
    std::lock_guard<std::mutex> lock(mutex);
    return unplugged;
}

// As uvcvideo on a disconnect: the node is unregistered, so every later call on a descriptor fails with
// ENODEV and poll reports POLLERR | POLLHUP | POLLPRI (v4l2's core answers so for an unregistered
// device); the buffers still queued are handed back done and flagged V4L2_BUF_FLAG_ERROR (uvcvideo
// cancels its queue), which wakes a dequeue already waiting with one of them.
void VirtualDevice::unplug()
{
    std::unique_lock<std::mutex> lock(mutex);
    unplugged = true;
    claimStream(false);
    if (frames.joinable()) {
        stopFrames = true;
        frameClock.notify_all();
        std::thread finished = std::move(frames);
        lock.unlock();
        finished.join();
        lock.lock();
    }
    for (uint32_t index : queuedOrder) {
        Buffer &buffer = buffers[index];
        buffer.queued = false;
        buffer.done = true;
        buffer.error = true;
        buffer.bytesused = 0;
        doneOrder.push_back(index);
    }
    queuedOrder.clear();
    updateReadiness();
    bufferDone.notify_all();
}

void VirtualDevice::setStalled(bool stall)
{
    std::lock_guard<std::mutex> lock(mutex);
    stalled = stall;
}

bool VirtualDevice::outranked(const DeviceHandle *handle) const
{
    for (const DeviceHandle *other : handles) {
        if (other->priority > handle->priority)
            return true;
    }
    return false;
}

std::vector<const CameraConfig::Mode *> VirtualDevice::modesOf(uint32_t format) const
{
    std::vector<const CameraConfig::Mode *> found;
    for (const CameraConfig::Mode &mode : config.modes) {
        if (mode.format == format)
            found.push_back(&mode);
    }
    return found;
}

const CameraConfig::Mode *VirtualDevice::currentMode() const
{
    for (const CameraConfig::Mode *mode : modesOf(current.pixelformat)) {
        if (mode->width == current.width && mode->height == current.height)
            return mode;
    }
    return &config.modes.front();
}

void VirtualDevice::tryFormat(v4l2_pix_format *pix) const
{
    if (std::find(formats.begin(), formats.end(), pix->pixelformat) == formats.end())
        pix->pixelformat = formats.front();
    const uint32_t format = pix->pixelformat;
    // The size closest to the one asked for, as uvcvideo measures it (the area the two do not share).
    const CameraConfig::Mode *best = nullptr;
    uint64_t bestDistance = UINT64_MAX;
    for (const CameraConfig::Mode *mode : modesOf(format)) {
        const uint64_t shared =
            uint64_t(std::min(mode->width, pix->width)) * std::min(mode->height, pix->height);
        const uint64_t distance =
            uint64_t(mode->width) * mode->height + uint64_t(pix->width) * pix->height - 2 * shared;
        if (distance < bestDistance) {
            best = mode;
            bestDistance = distance;
        }
    }
    const uint32_t width = best->width, height = best->height;
    std::memset(pix, 0, sizeof *pix);
    pix->pixelformat = format;
    pix->width = width;
    pix->height = height;
    pix->field = V4L2_FIELD_NONE;
    pix->bytesperline = format == V4L2_PIX_FMT_GREY ? width : format == V4L2_PIX_FMT_MJPEG ? 0 : width * 2;
    pix->sizeimage = format == V4L2_PIX_FMT_GREY ? width * height : width * height * 2;
    pix->colorspace = V4L2_COLORSPACE_SRGB;
    pix->priv = V4L2_PIX_FMT_PRIV_MAGIC;
}

int VirtualDevice::ioctl(DeviceHandle *handle, unsigned long request, void *arg)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (unplugged)
        return fail(ENODEV);
    switch (request) {
    case VIDIOC_QUERYCAP:
    case VIDIOC_G_PRIORITY:
    case VIDIOC_S_PRIORITY:
    case VIDIOC_ENUMINPUT:
    case VIDIOC_G_INPUT:
    case VIDIOC_S_INPUT:
    case VIDIOC_ENUM_FMT:
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT:
    case VIDIOC_TRY_FMT:
    case VIDIOC_ENUM_FRAMESIZES:
    case VIDIOC_ENUM_FRAMEINTERVALS:
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM:
    case VIDIOC_QUERYCTRL:
    case VIDIOC_QUERY_EXT_CTRL:
    case VIDIOC_QUERYMENU:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL:
    case VIDIOC_G_EXT_CTRLS:
    case VIDIOC_S_EXT_CTRLS:
    case VIDIOC_TRY_EXT_CTRLS:
    case VIDIOC_SUBSCRIBE_EVENT:
    case VIDIOC_UNSUBSCRIBE_EVENT:
    case VIDIOC_DQEVENT:
    case VIDIOC_REQBUFS:
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF:
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF:
        if (!arg)
            return fail(EFAULT);
        break;
    default:
        // Standards, tuners, audio, overlays, selections, buffer export: not a UVC camera's.
        return fail(ENOTTY);
    }
    // The metadata node answers its format and its buffers only, as uvcvideo's does.
    if (metadata && !answersMetadata(request))
        return fail(ENOTTY);
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto *cap = static_cast<v4l2_capability *>(arg);
        std::memset(cap, 0, sizeof *cap);
        copyText(cap->driver, sizeof cap->driver, "uvcvideo");
        copyText(cap->card, sizeof cap->card, config.card);
        copyText(cap->bus_info, sizeof cap->bus_info, SysfsTree::busInfo(config.port));
        cap->version = kernelVersion();
        cap->device_caps = metadata ? V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING
                                    : V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
        cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT |
                            V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_G_PRIORITY:
        *static_cast<uint32_t *>(arg) = highestPriority();
        return 0;
    case VIDIOC_S_PRIORITY: {
        const uint32_t priority = *static_cast<uint32_t *>(arg);
        if (outranked(handle))
            return fail(EBUSY);
        if (priority < V4L2_PRIORITY_BACKGROUND || priority > V4L2_PRIORITY_RECORD)
            return fail(EINVAL);
        handle->priority = priority;
        return 0;
    }
    case VIDIOC_SUBSCRIBE_EVENT:
    case VIDIOC_UNSUBSCRIBE_EVENT:
    case VIDIOC_DQEVENT:
        return withSharedValues([&] { return eventIoctl(handle, request, arg); });
    case VIDIOC_ENUMINPUT: {
        auto *input = static_cast<v4l2_input *>(arg);
        if (input->index != 0)
            return fail(EINVAL);
        std::memset(input, 0, sizeof *input);
        copyText(input->name, sizeof input->name, "Camera 1");
        input->type = V4L2_INPUT_TYPE_CAMERA;
        return 0;
    }
    case VIDIOC_G_INPUT:
        *static_cast<int *>(arg) = 0;
        return 0;
    case VIDIOC_S_INPUT:
        if (outranked(handle))
            return fail(EBUSY);
        return *static_cast<int *>(arg) == 0 ? 0 : fail(EINVAL);
    case VIDIOC_ENUM_FMT:
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT:
    case VIDIOC_TRY_FMT:
    case VIDIOC_ENUM_FRAMESIZES:
    case VIDIOC_ENUM_FRAMEINTERVALS:
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM:
        return formatIoctl(handle, request, arg);
    case VIDIOC_QUERYCTRL:
    case VIDIOC_QUERY_EXT_CTRL:
    case VIDIOC_QUERYMENU:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL:
    case VIDIOC_G_EXT_CTRLS:
    case VIDIOC_S_EXT_CTRLS:
    case VIDIOC_TRY_EXT_CTRLS:
        return withSharedValues([&] { return controlIoctl(handle, request, arg); });
    case VIDIOC_REQBUFS:
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF:
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF:
        return bufferIoctl(handle, request, arg, lock);
    default:
        return fail(ENOTTY);
    }
}

uint32_t VirtualDevice::highestPriority() const
{
    uint32_t highest = V4L2_PRIORITY_UNSET;
    for (const DeviceHandle *other : handles)
        highest = std::max(highest, other->priority);
    return highest;
}

bool VirtualDevice::hasEvents(const DeviceHandle *handle)
{
    std::lock_guard<std::mutex> lock(mutex);
    return !handle->events.empty();
}

void VirtualDevice::queueEvent(DeviceHandle *handle, const Control &control, uint32_t changes)
{
    for (auto pending = handle->events.begin(); pending != handle->events.end(); ++pending) {
        if (pending->id == control.id) {
            changes |= pending->u.ctrl.changes;
            handle->events.erase(pending);
            break;
        }
    }
    v4l2_event event{};
    event.type = V4L2_EVENT_CTRL;
    event.id = control.id;
    event.u.ctrl.changes = changes;
    event.u.ctrl.type = V4L2_CTRL_TYPE_INTEGER;
    event.u.ctrl.value = control.value;
    event.u.ctrl.minimum = control.minimum;
    event.u.ctrl.maximum = control.maximum;
    event.u.ctrl.step = control.step;
    event.u.ctrl.default_value = control.defaultValue;
    event.sequence = handle->eventSequence++;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    event.timestamp = now;
    handle->events.push_back(event);
}

void VirtualDevice::controlChanged(const DeviceHandle *writer, const Control &control)
{
    for (DeviceHandle *handle : handles) {
        for (const DeviceHandle::Subscription &subscription : handle->subscriptions) {
            if (subscription.id == control.id &&
                (handle != writer || (subscription.flags & V4L2_EVENT_SUB_FL_ALLOW_FEEDBACK)))
                queueEvent(handle, control, V4L2_EVENT_CTRL_CH_VALUE);
        }
    }
}

int VirtualDevice::eventIoctl(DeviceHandle *handle, unsigned long request, void *arg)
{
    if (request == VIDIOC_DQEVENT) {
        if (handle->events.empty())
            return fail(ENOENT);
        auto *event = static_cast<v4l2_event *>(arg);
        *event = handle->events.front();
        handle->events.pop_front();
        event->pending = uint32_t(handle->events.size());
        return 0;
    }
    auto *subscription = static_cast<v4l2_event_subscription *>(arg);
    auto &subscriptions = handle->subscriptions;
    if (request == VIDIOC_UNSUBSCRIBE_EVENT) {
        const bool all = subscription->type == V4L2_EVENT_ALL;
        subscriptions.erase(std::remove_if(subscriptions.begin(), subscriptions.end(),
                                           [&](const DeviceHandle::Subscription &item) {
                                               return all || (subscription->type == V4L2_EVENT_CTRL &&
                                                              item.id == subscription->id);
                                           }),
                            subscriptions.end());
        handle->events.erase(
            std::remove_if(handle->events.begin(), handle->events.end(),
                           [&](const v4l2_event &event) { return all || event.id == subscription->id; }),
            handle->events.end());
        return 0;
    }
    const Control *control = subscription->type == V4L2_EVENT_CTRL ? findControl(subscription->id) : nullptr;
    if (!control)
        return fail(EINVAL);
    for (const DeviceHandle::Subscription &item : subscriptions) {
        if (item.id == control->id)
            return 0;
    }
    subscriptions.push_back({control->id, subscription->flags});
    // The current value at once, for any control that can be read (not a class heading).
    if ((subscription->flags & V4L2_EVENT_SUB_FL_SEND_INITIAL) && control->id != V4L2_CID_USER_CLASS)
        queueEvent(handle, *control, V4L2_EVENT_CTRL_CH_VALUE | V4L2_EVENT_CTRL_CH_FLAGS);
    return 0;
}

bool VirtualDevice::answersMetadata(unsigned long request)
{
    switch (request) {
    case VIDIOC_QUERYCAP:
    case VIDIOC_G_PRIORITY:
    case VIDIOC_S_PRIORITY:
    case VIDIOC_ENUMINPUT: // the one input, as v4l2's core gives a receiver without its own
    case VIDIOC_G_INPUT:
    case VIDIOC_S_INPUT:
    case VIDIOC_ENUM_FMT:
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT:
    case VIDIOC_TRY_FMT:
    case VIDIOC_REQBUFS:
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF:
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF:
        return true;
    default:
        return false;
    }
}

uint32_t VirtualDevice::bufferSize() const
{
    return metadata ? kMetadataBufferSize : current.sizeimage;
}

int VirtualDevice::metadataFormatIoctl(DeviceHandle *handle, unsigned long request, void *arg)
{
    if (request == VIDIOC_ENUM_FMT) {
        auto *description = static_cast<v4l2_fmtdesc *>(arg);
        if (description->type != bufferType || description->index != 0)
            return fail(EINVAL);
        std::memset(description, 0, sizeof *description);
        description->type = bufferType;
        description->pixelformat = V4L2_META_FMT_UVC;
        copyText(description->description, sizeof description->description, "UVC Payload Header Metadata");
        return 0;
    }
    auto *format = static_cast<v4l2_format *>(arg);
    if (format->type != bufferType)
        return fail(EINVAL);
    if (request == VIDIOC_S_FMT &&
        (outranked(handle) || !buffers.empty() || streaming || streamedElsewhere()))
        return fail(EBUSY);
    // One format: whatever is asked, UVCH is the answer.
    std::memset(&format->fmt, 0, sizeof format->fmt);
    format->fmt.meta.dataformat = V4L2_META_FMT_UVC;
    format->fmt.meta.buffersize = kMetadataBufferSize;
    return 0;
}

// What uvcvideo puts in a metadata buffer for a frame: the time the frame's first payload arrived,
// the USB frame number then, and the payload's header (length 12: the flags byte, PTS and SCR).
size_t VirtualDevice::writeMetadata(uint8_t *data, int64_t nowNs, uint32_t frameNumber) const
{
    const uint64_t ns = uint64_t(nowNs);
    const uint16_t sof = uint16_t((nowNs / 1000000) & 0x7ff);
    const uint32_t pts = uint32_t(uint64_t(nowNs) / 1000 * 48); // a 48 MHz device clock
    const uint32_t stc = pts + 48000;
    uint8_t header[12] = {12, uint8_t(0x8c | (frameNumber & 1)), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(header + 2, &pts, 4);
    std::memcpy(header + 6, &stc, 4);
    std::memcpy(header + 10, &sof, 2);
    std::memcpy(data, &ns, 8);
    std::memcpy(data + 8, &sof, 2);
    std::memcpy(data + 10, header, sizeof header);
    return 10 + sizeof header;
}

int VirtualDevice::formatIoctl(DeviceHandle *handle, unsigned long request, void *arg)
{
    if (metadata)
        return metadataFormatIoctl(handle, request, arg);
    switch (request) {
    case VIDIOC_ENUM_FMT: {
        auto *description = static_cast<v4l2_fmtdesc *>(arg);
        if (!(description->type == bufferType) || description->index >= formats.size())
            return fail(EINVAL);
        const uint32_t index = description->index, type = description->type;
        std::memset(description, 0, sizeof *description);
        description->index = index;
        description->type = type;
        description->pixelformat = formats[index];
        description->flags = formats[index] == V4L2_PIX_FMT_MJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
        copyText(description->description, sizeof description->description, formatName(formats[index]));
        return 0;
    }
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT:
    case VIDIOC_TRY_FMT: {
        auto *format = static_cast<v4l2_format *>(arg);
        if (!(format->type == bufferType))
            return fail(EINVAL);
        if (request == VIDIOC_G_FMT) {
            std::memset(&format->fmt, 0, sizeof format->fmt);
            format->fmt.pix = current;
            return 0;
        }
        if (request == VIDIOC_S_FMT && (outranked(handle) || streamedElsewhere()))
            return fail(EBUSY);
        v4l2_pix_format wanted = format->fmt.pix;
        tryFormat(&wanted);
        if (request == VIDIOC_S_FMT) {
            if (!buffers.empty() || streaming)
                return fail(EBUSY);
            current = wanted;
        }
        std::memset(&format->fmt, 0, sizeof format->fmt);
        format->fmt.pix = wanted;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto *size = static_cast<v4l2_frmsizeenum *>(arg);
        const std::vector<const CameraConfig::Mode *> sizes = modesOf(size->pixel_format);
        if (size->index >= sizes.size())
            return fail(EINVAL);
        const uint32_t format = size->pixel_format, index = size->index;
        std::memset(size, 0, sizeof *size);
        size->index = index;
        size->pixel_format = format;
        size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size->discrete = {sizes[index]->width, sizes[index]->height};
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto *interval = static_cast<v4l2_frmivalenum *>(arg);
        const std::vector<const CameraConfig::Mode *> sizes = modesOf(interval->pixel_format);
        if (interval->index != 0 ||
            std::none_of(sizes.begin(), sizes.end(), [&](const CameraConfig::Mode *mode) {
                return mode->width == interval->width && mode->height == interval->height;
            }))
            return fail(EINVAL);
        const v4l2_frmivalenum asked = *interval;
        std::memset(interval, 0, sizeof *interval);
        interval->pixel_format = asked.pixel_format;
        interval->width = asked.width;
        interval->height = asked.height;
        interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        interval->discrete = {1, config.fps};
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        auto *parameters = static_cast<v4l2_streamparm *>(arg);
        if (!(parameters->type == bufferType))
            return fail(EINVAL);
        if (request == VIDIOC_S_PARM && outranked(handle))
            return fail(EBUSY);
        std::memset(&parameters->parm, 0, sizeof parameters->parm);
        parameters->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        parameters->parm.capture.timeperframe = {1, config.fps};
        return 0;
    }
    default:
        return fail(ENOTTY);
    }
}

VirtualDevice::Control *VirtualDevice::findControl(uint32_t id)
{
    for (Control &control : controls) {
        if (control.id == id)
            return &control;
    }
    return nullptr;
}

const VirtualDevice::Control *VirtualDevice::nextControl(uint32_t after) const
{
    const Control *next = nullptr;
    for (const Control &control : controls) {
        if (control.id > after && (!next || control.id < next->id))
            next = &control;
    }
    return next;
}

int VirtualDevice::controlIoctl(DeviceHandle *handle, unsigned long request, void *arg)
{
    switch (request) {
    case VIDIOC_QUERYCTRL:
    case VIDIOC_QUERY_EXT_CTRL: {
        uint32_t id = request == VIDIOC_QUERYCTRL ? static_cast<v4l2_queryctrl *>(arg)->id
                                                  : static_cast<v4l2_query_ext_ctrl *>(arg)->id;
        const bool next = id & V4L2_CTRL_FLAG_NEXT_CTRL;
        const bool nextCompound = id & V4L2_CTRL_FLAG_NEXT_COMPOUND;
        id &= ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        Control *control = nullptr;
        if (next)
            control = const_cast<Control *>(nextControl(id));
        else if (nextCompound)
            control = nullptr; // no compound controls
        else
            control = findControl(id);
        if (!control)
            return fail(EINVAL);
        const bool isClass = control->id == V4L2_CID_USER_CLASS;
        const uint32_t type = isClass ? V4L2_CTRL_TYPE_CTRL_CLASS : V4L2_CTRL_TYPE_INTEGER;
        const uint32_t flags = isClass ? V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY : 0;
        if (request == VIDIOC_QUERYCTRL) {
            auto *query = static_cast<v4l2_queryctrl *>(arg);
            std::memset(query, 0, sizeof *query);
            query->id = control->id;
            query->type = type;
            copyText(query->name, sizeof query->name, control->name);
            query->minimum = control->minimum;
            query->maximum = control->maximum;
            query->step = control->step;
            query->default_value = control->defaultValue;
            query->flags = flags;
        } else {
            auto *query = static_cast<v4l2_query_ext_ctrl *>(arg);
            std::memset(query, 0, sizeof *query);
            query->id = control->id;
            query->type = type;
            copyText(reinterpret_cast<uint8_t *>(query->name), sizeof query->name, control->name);
            query->minimum = control->minimum;
            query->maximum = control->maximum;
            query->step = uint64_t(control->step);
            query->default_value = control->defaultValue;
            query->flags = flags;
            query->elem_size = isClass ? 0 : sizeof(int32_t);
            query->elems = isClass ? 0 : 1;
        }
        return 0;
    }
    case VIDIOC_QUERYMENU:
        return fail(EINVAL);
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: {
        auto *value = static_cast<v4l2_control *>(arg);
        Control *control = findControl(value->id);
        if (!control)
            return fail(EINVAL);
        if (control->id == V4L2_CID_USER_CLASS)
            return fail(EACCES);
        if (request == VIDIOC_G_CTRL) {
            value->value = control->value;
            return 0;
        }
        if (outranked(handle))
            return fail(EBUSY);
        // uvcvideo clamps a value outside the range to it and says nothing.
        const int32_t clamped = clampToRange(value->value, control->minimum, control->maximum, control->step);
        value->value = clamped;
        scene.controlWritten(control->id, clamped); // every write is a command, a repeat too
        if (clamped != control->value) {
            control->value = clamped;
            controlChanged(handle, *control);
        }
        return 0;
    }
    default:
        return extControls(handle, request, static_cast<v4l2_ext_controls *>(arg));
    }
}

int VirtualDevice::extControls(DeviceHandle *handle, unsigned long request, v4l2_ext_controls *list)
{
    const uint32_t which = list->which;
    if (which != V4L2_CTRL_WHICH_CUR_VAL && which != V4L2_CTRL_CLASS_USER &&
        !(which == V4L2_CTRL_WHICH_DEF_VAL && request == VIDIOC_G_EXT_CTRLS)) {
        list->error_idx = list->count;
        return fail(EINVAL);
    }
    if (list->count == 0)
        return 0;
    if (list->count > 1024 || !list->controls) {
        list->error_idx = list->count;
        return fail(list->count > 1024 ? E2BIG : EFAULT);
    }
    // Every id is checked before any value is read or written.
    for (uint32_t i = 0; i < list->count; ++i) {
        const Control *control = findControl(list->controls[i].id);
        if (!control || (which == V4L2_CTRL_CLASS_USER && V4L2_CTRL_ID2WHICH(control->id) != which)) {
            list->error_idx = request == VIDIOC_TRY_EXT_CTRLS ? i : list->count;
            return fail(EINVAL);
        }
    }
    // The class heading can be neither read (write-only) nor written (read-only).
    for (uint32_t i = 0; i < list->count; ++i) {
        if (list->controls[i].id == V4L2_CID_USER_CLASS) {
            list->error_idx = request == VIDIOC_TRY_EXT_CTRLS ? i : list->count;
            return fail(EACCES);
        }
    }
    if (request == VIDIOC_S_EXT_CTRLS && outranked(handle)) {
        list->error_idx = list->count;
        return fail(EBUSY);
    }
    for (uint32_t i = 0; i < list->count; ++i) {
        v4l2_ext_control &item = list->controls[i];
        Control *control = findControl(item.id);
        if (request == VIDIOC_G_EXT_CTRLS) {
            item.value = which == V4L2_CTRL_WHICH_DEF_VAL ? control->defaultValue : control->value;
            continue;
        }
        item.value = clampToRange(item.value, control->minimum, control->maximum, control->step);
        if (request == VIDIOC_S_EXT_CTRLS)
            scene.controlWritten(control->id, item.value);
        if (request == VIDIOC_S_EXT_CTRLS && item.value != control->value) {
            control->value = item.value;
            controlChanged(handle, *control);
        }
    }
    return 0;
}

int VirtualDevice::bufferIoctl(DeviceHandle *handle, unsigned long request, void *arg,
                               std::unique_lock<std::mutex> &lock)
{
    if (request == VIDIOC_REQBUFS)
        return requestBuffers(handle, static_cast<v4l2_requestbuffers *>(arg), lock);
    if (request == VIDIOC_QUERYBUF) {
        auto *buffer = static_cast<v4l2_buffer *>(arg);
        if (!(buffer->type == bufferType) || buffer->index >= buffers.size())
            return fail(EINVAL);
        fillBuffer(buffer, buffer->index);
        return 0;
    }
    if (request == VIDIOC_STREAMON || request == VIDIOC_STREAMOFF) {
        if (!(uint32_t(*static_cast<int *>(arg)) == bufferType))
            return fail(EINVAL);
        if (owner && owner != handle)
            return fail(EBUSY);
        if (outranked(handle))
            return fail(EBUSY);
        if (request == VIDIOC_STREAMOFF) {
            streamOff(lock);
            return 0;
        }
        if (streamedElsewhere())
            return fail(EBUSY);
        if (buffers.empty())
            return fail(EINVAL);
        if (!streaming && !metadata && Faults::instance().takeNoSpace())
            return fail(ENOSPC);
        if (!streaming)
            streamOn();
        return 0;
    }
    auto *buffer = static_cast<v4l2_buffer *>(arg);
    if (!(buffer->type == bufferType))
        return fail(EINVAL);
    if (owner && owner != handle)
        return fail(EBUSY);
    if (request == VIDIOC_DQBUF)
        return dequeue(handle, buffer, lock);
    // VIDIOC_QBUF
    if (buffer->index >= buffers.size() || buffer->memory != V4L2_MEMORY_MMAP)
        return fail(EINVAL);
    Buffer &queued = buffers[buffer->index];
    if (queued.queued || queued.done)
        return fail(EINVAL);
    queued.queued = true;
    queued.error = false;
    queuedOrder.push_back(buffer->index);
    fillBuffer(buffer, buffer->index);
    return 0;
}

int VirtualDevice::requestBuffers(DeviceHandle *handle, v4l2_requestbuffers *request,
                                  std::unique_lock<std::mutex> &lock)
{
    if (!(request->type == bufferType) || request->memory != V4L2_MEMORY_MMAP) {
        return fail(EINVAL);
    }
    // Another process streaming holds the camera, as another file handle holds a uvcvideo node.
    if ((owner && owner != handle) || streaming || outranked(handle) || streamedElsewhere())
        return fail(EBUSY);
    for (const Buffer &buffer : buffers) {
        if (buffer.mappings > 0)
            return fail(EBUSY); // a client still maps them
    }
    std::memset(request->reserved, 0, sizeof request->reserved);
    request->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
    request->flags = 0;
    streamOff(lock);
    freeBuffers();
    if (request->count == 0) {
        owner = nullptr;
        claimStream(false);
        return 0;
    }
    const uint32_t count = std::clamp<uint32_t>(request->count, 2, kMaxBuffers);
    const long page = ::sysconf(_SC_PAGESIZE);
    stride = (bufferSize() + size_t(page) - 1) / size_t(page) * size_t(page);
    memfd = ::memfd_create("tarn-vcam-buffers", MFD_CLOEXEC);
    if (memfd < 0 || ::ftruncate(memfd, off_t(stride * count)) != 0)
        return fail(ENOMEM);
    void *view = RealCalls::get().mmap(nullptr, stride * count, PROT_READ | PROT_WRITE, MAP_SHARED, memfd, 0);
    if (view == MAP_FAILED) {
        RealCalls::get().close(memfd);
        memfd = -1;
        return fail(ENOMEM);
    }
    memory = static_cast<uint8_t *>(view);
    buffers.assign(count, Buffer{});
    owner = handle;
    claimStream(true);
    request->count = count;
    return 0;
}

void VirtualDevice::freeBuffers()
{
    if (memory)
        ::munmap(memory, stride * buffers.size());
    memory = nullptr;
    if (memfd >= 0)
        RealCalls::get().close(memfd);
    memfd = -1;
    buffers.clear();
    queuedOrder.clear();
    doneOrder.clear();
}

void VirtualDevice::fillBuffer(v4l2_buffer *buffer, uint32_t index) const
{
    const Buffer &state = buffers[index];
    std::memset(buffer, 0, sizeof *buffer);
    buffer->index = index;
    buffer->type = bufferType;
    buffer->memory = V4L2_MEMORY_MMAP;
    buffer->m.offset = uint32_t(index * stride);
    buffer->length = bufferSize();
    buffer->bytesused = state.bytesused;
    buffer->field = V4L2_FIELD_NONE;
    buffer->sequence = state.sequence;
    buffer->timestamp = state.timestamp;
    buffer->flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_SOE;
    if (state.queued)
        buffer->flags |= V4L2_BUF_FLAG_QUEUED;
    if (state.done)
        buffer->flags |= V4L2_BUF_FLAG_DONE;
    if (state.mappings > 0)
        buffer->flags |= V4L2_BUF_FLAG_MAPPED;
    if (state.error)
        buffer->flags |= V4L2_BUF_FLAG_ERROR;
}

int VirtualDevice::dequeue(DeviceHandle *handle, v4l2_buffer *buffer, std::unique_lock<std::mutex> &lock)
{
    if (buffer->memory != V4L2_MEMORY_MMAP)
        return fail(EINVAL);
    if (!streaming)
        return fail(EINVAL);
    const bool nonBlocking = ::fcntl(handle->fd, F_GETFL) & O_NONBLOCK;
    while (doneOrder.empty()) {
        if (nonBlocking)
            return fail(EAGAIN);
        bufferDone.wait(lock);
        if (unplugged && doneOrder.empty())
            return fail(ENODEV);
        if (!streaming || owner != handle)
            return fail(EINVAL);
    }
    const uint32_t index = doneOrder.front();
    doneOrder.pop_front();
    buffers[index].done = false;
    fillBuffer(buffer, index);
    updateReadiness();
    return 0;
}

bool VirtualDevice::mapBuffer(off_t offset, size_t length, int *fd, int *index)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (unplugged || stride == 0 || offset < 0 || size_t(offset) % stride != 0)
        return false;
    const size_t which = size_t(offset) / stride;
    if (which >= buffers.size() || length == 0 || length > stride)
        return false;
    ++buffers[which].mappings;
    *fd = memfd;
    *index = int(which);
    return true;
}

void VirtualDevice::unmapBuffer(int index)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (index >= 0 && size_t(index) < buffers.size() && buffers[size_t(index)].mappings > 0)
        --buffers[size_t(index)].mappings;
}

void VirtualDevice::streamOn()
{
    if (!metadata)
        painter.setFormat(current.pixelformat, current.width, current.height, config.fps,
                          currentMode()->split);
    streaming = true;
    stopFrames = false;
    sequence = 0;
    frames = std::thread([this] { frameLoop(); });
}

void VirtualDevice::streamOff(std::unique_lock<std::mutex> &lock)
{
    if (frames.joinable()) {
        stopFrames = true;
        frameClock.notify_all();
        std::thread finished = std::move(frames);
        lock.unlock();
        finished.join();
        lock.lock();
    }
    streaming = false;
    for (Buffer &buffer : buffers) {
        buffer.queued = false;
        buffer.done = false;
    }
    queuedOrder.clear();
    doneOrder.clear();
    updateReadiness();
    bufferDone.notify_all();
}

void VirtualDevice::updateReadiness()
{
    for (DeviceHandle *handle : handles) {
        const bool ready = unplugged || (handle == owner && !doneOrder.empty());
        if (ready == handle->signalled)
            continue;
        uint64_t count = 1;
        if (ready) {
            if (RealCalls::get().write(handle->fd, &count, sizeof count) == sizeof count)
                handle->signalled = true;
        } else if (RealCalls::get().read(handle->fd, &count, sizeof count) == sizeof count) {
            handle->signalled = false;
        }
    }
}

void VirtualDevice::frameLoop()
{
    pthread_setname_np(pthread_self(), "vcam-frames");
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::nanoseconds(1000000000 / config.fps);
    const int warmupMs = metadata ? 0 : Faults::instance().warmupMs();
    auto due = Clock::now() + (warmupMs > 0 ? std::chrono::nanoseconds(warmupMs * 1000000LL) : period);
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopFrames) {
        if (frameClock.wait_until(lock, due, [this] { return stopFrames; }))
            break;
        due += period;
        if (Clock::now() > due)
            due = Clock::now() + period; // behind (a loaded machine): no burst to catch up
        const uint32_t frameNumber = sequence++;
        if (stalled || queuedOrder.empty())
            continue;
        const uint32_t index = queuedOrder.front();
        queuedOrder.pop_front();
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t nowNs = int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
        const ThermalScene::View view = scene.viewAt(nowNs, frameNumber);
        uint8_t *data = memory + index * stride;
        const size_t capacity = bufferSize();
        lock.unlock();
        const size_t used = metadata ? writeMetadata(data, nowNs, frameNumber)
                                     : painter.paint(view, data, capacity, config.stamp ? nowNs : -1);
        lock.lock();
        Buffer &buffer = buffers[index];
        buffer.queued = false;
        buffer.done = true;
        buffer.bytesused = uint32_t(used);
        buffer.error = !metadata && Faults::instance().takeErrorFrame();
        if (!metadata && Faults::instance().takeShortFrame())
            buffer.bytesused = uint32_t(used / 2); // the end of the frame was lost on the bus
        buffer.sequence = frameNumber;
        buffer.timestamp = {now.tv_sec, now.tv_nsec / 1000};
        doneOrder.push_back(index);
        updateReadiness();
        bufferDone.notify_all();
    }
}
