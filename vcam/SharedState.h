#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// One camera per machine, not per process: what every process that loads the camera shares about a
// node, in a small file /dev/shm/tarn-vcam-videoN, changed only under its lock (flock): the control
// values, and which process streams (holds buffers), so that a value set by one v4l2-ctl reads back in
// the next and a second streamer gets EBUSY, as from uvcvideo. A streamer that died frees the camera.
// Without the file (no /dev/shm), each process has its own camera, as before.
class SharedState
{
public:
    static constexpr int MaxValues = 16;
    struct Record
    {
        uint32_t magic;
        uint32_t fingerprint; // of the camera's kind: another kind at the node starts afresh
        int32_t streamer;     // pid of the process whose handle holds buffers; 0: none
        int32_t values[MaxValues];
    };

    // defaults: the control values of a camera just plugged in.
    SharedState(int node, uint32_t fingerprint, std::vector<int32_t> defaults);
    ~SharedState();
    SharedState(const SharedState &) = delete;
    SharedState &operator=(const SharedState &) = delete;

    // Runs change on the record under the lock (on a private record without the file).
    void locked(const std::function<void(Record &)> &change);
    // Back to a camera just plugged in: defaults, nobody streaming.
    void reset();
    // True when another live process streams.
    static bool heldByOther(const Record &record);

private:
    void initialise(Record &record) const;

    const uint32_t fingerprint;
    const std::vector<int32_t> defaults;
    int fd = -1;
    Record *record = nullptr;
    Record own{}; // without the file
};
