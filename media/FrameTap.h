#pragma once

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

#include <cstdint>

// Something that sees every decoded video frame of the player as the input gave it (the camera's own
// pixel format and size, before any conversion to an image): a clip encoder, the temperature reader.
//
// tapFrame runs on the player thread, for each frame the player hands on, before the frame is turned
// into an image. It must return quickly and must not keep the frame: the frame's buffers go back to the
// decoder (for a camera, to the driver's queue) as soon as it returns, so a tap copies what it needs.
class FrameTap
{
public:
    struct Facts
    {
        // When the frame was captured, in µs on the input's clock (a camera's capture time; the
        // player's monotonic clock when the input gives no timestamp).
        int64_t captureUs = 0;
        // The input's frame rate as its stream declares it; {0, 1} when unknown.
        AVRational frameRate{0, 1};
    };

    virtual ~FrameTap() = default;
    virtual void tapFrame(const AVFrame &frame, const Facts &facts) = 0;
};
