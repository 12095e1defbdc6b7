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

private:
    int count = 0;
};
