#pragma once

#include <QByteArray>

#include <atomic>
#include <vector>

// Waits for a capture device that is read non-blocking to have a frame, instead of asking it again and
// again. FFmpeg keeps the device's descriptor to itself, so the waiter finds it: the descriptor on the
// device's character node that the open added to the process.
//
// Each wait polls in short slices and looks at the stop flag between them, so a stop is answered within
// a few milliseconds. Player thread only.
class DeviceWaiter
{
public:
    explicit DeviceWaiter(const std::atomic<bool> &stopped) : stopped(stopped) {}

    // Around the open of the device at path: remembers the descriptors before, then takes the new one.
    void beforeOpen(const QByteArray &path);
    void afterOpen();
    void reset();
    // The device's descriptor; -1 when none was found (or on a platform without poll).
    int descriptor() const { return fd; }
    void setDescriptor(int descriptor) { fd = descriptor; }

    // Waits until the device has something to read or an error to report (an unplugged camera), at
    // most timeoutMs and no longer than the stop flag stays clear. True when the device is ready.
    bool wait(int timeoutMs) const;

    // Descriptors this process has open on the character device at path, ascending.
    static std::vector<int> descriptorsOn(const QByteArray &path);

private:
    const std::atomic<bool> &stopped;
    QByteArray path;
    std::vector<int> before;
    int fd = -1;
};
