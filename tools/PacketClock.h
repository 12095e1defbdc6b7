#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

// Gives timestamps to the packets of one input that come without them (a raw H.264 stream has none):
// frame after frame, one frame duration apart, counted from 0. Each input keeps its own clock, so the
// packets of one input never move the frames of the other.
class PacketClock
{
public:
    // When packet's pts is unset, sets pts = dts = count × frame duration and duration = one frame, in
    // stream's time base, and counts the frame. The frame duration comes from the stream's real frame
    // rate (whole microseconds, truncated into the time base), or for audio, whose real frame rate is
    // unset, from its frame size and sample rate. Packets with a pts, and streams with neither, are left
    // as they are.
    void stamp(AVPacket *packet, const AVStream *stream);

    // A frame rate above this is a broken header, not a picture: no camera or encoder makes more than
    // a thousand frames a second, and at the clock's whole microseconds the frames would fall together.
    static constexpr int kMaxFrameRate = 1000;
    // The rate a stream is timed at when its own is out of bounds: what the raw H.264 reader gives a
    // stream that declares none.
    static constexpr AVRational kFallbackRate{25, 1};
    // The stream's real frame rate, or kFallbackRate when that is above kMaxFrameRate.
    static AVRational usableRate(const AVStream *stream);

private:
    int count = 0;
};
