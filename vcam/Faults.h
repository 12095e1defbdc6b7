#pragma once

#include <atomic>
#include <string>

// Faults a person, a test or a benchmark sets through the control channel, for what a real camera
// does now and then: refuse a few opens, take its time to open, answer control reads slowly.
//   "fail N ERRNO"   the next N opens of a capture node fail with ERRNO (EACCES, EBUSY, EIO or ENODEV)
//   "slow-open MS"   every open takes MS milliseconds (0: at once again)
//   "slow-read MS"   every control read (VIDIOC_G_CTRL, VIDIOC_G_EXT_CTRLS) takes MS milliseconds first
// Any thread.
class Faults
{
public:
    static Faults &instance();

    // Carries out one of the commands above; false when the line is none of them.
    bool apply(const std::string &command);

    // The errno the open starting now fails with (a counted failure when counted, else
    // TARN_VCAM_FAULT); 0: it succeeds.
    int takeOpenError(bool counted = true);
    void delayOpen() const;
    void delayControlRead() const;

private:
    std::atomic<int> failuresLeft{0};
    std::atomic<int> failureErrno{0};
    std::atomic<int> openDelayMs{0};
    std::atomic<int> readDelayMs{0};
};
