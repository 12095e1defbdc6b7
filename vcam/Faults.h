#pragma once

#include <atomic>
#include <string>

// Faults a person, a test or a benchmark sets through the control channel, for what a real camera
// does now and then: refuse a few opens, take its time to open, answer control reads slowly.
//   "fail N ERRNO"   the next N opens of a capture node fail with ERRNO (EACCES, EBUSY, EIO or ENODEV)
//   "slow-open MS"   every open takes MS milliseconds (0: at once again)
//   "slow-read MS"   every control read (VIDIOC_G_CTRL, VIDIOC_G_EXT_CTRLS) takes MS milliseconds first
//   "slow-write MS"  every control write (VIDIOC_S_CTRL, VIDIOC_S_EXT_CTRLS) takes MS milliseconds first
//   "control-fail ERRNO"  control writes fail with ERRNO (EIO, EPIPE, ETIMEDOUT, EPROTO, ...; as a USB
//                    request the camera stalls or does not answer); "control-ok": they succeed again
//   "warmup MS"      the first frame after a STREAMON comes MS milliseconds after it (TARN_VCAM_WARMUP)
//   "error-frames N" the next N frames come in buffers flagged V4L2_BUF_FLAG_ERROR
//   "short-frames N" the next N frames come short: bytesused below the image size
//   "enospc"         the next STREAMON fails with ENOSPC (uvcvideo's answer when the USB bus has not
//                    the bandwidth the format needs)
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
    void delayControlWrite() const;
    // The errno control writes fail with now; 0: they succeed.
    int controlWriteError() const { return controlErrno.load(); }
    int warmupMs() const { return warmup.load(); }
    // Each true once per frame or STREAMON the command asked for.
    bool takeErrorFrame() { return takeOne(errorFrames); }
    bool takeShortFrame() { return takeOne(shortFrames); }
    bool takeNoSpace() { return noSpace.exchange(false); }

private:
    Faults();
    static bool takeOne(std::atomic<int> &left);

    std::atomic<int> failuresLeft{0};
    std::atomic<int> failureErrno{0};
    std::atomic<int> openDelayMs{0};
    std::atomic<int> readDelayMs{0};
    std::atomic<int> writeDelayMs{0};
    std::atomic<int> controlErrno{0};
    std::atomic<int> warmup{0};
    std::atomic<int> errorFrames{0};
    std::atomic<int> shortFrames{0};
    std::atomic<bool> noSpace{false};
};
