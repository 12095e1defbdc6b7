#include "PacketClock.h"

namespace {
// Microseconds of one frame of stream, or 0 when the stream does not say.
int64_t frameMicroseconds(const AVStream *stream)
{
    const AVRational rate = stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        return int64_t(1000000 / av_q2d(rate));
    const AVCodecParameters *par = stream->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->frame_size > 0 && par->sample_rate > 0)
        return int64_t(1000000.0 * par->frame_size / par->sample_rate);
    return 0;
}
} // namespace

void PacketClock::stamp(AVPacket *packet, const AVStream *stream)
{
    if (packet->pts != AV_NOPTS_VALUE)
        return;
    const int64_t frame = frameMicroseconds(stream);
    const double scale = av_q2d(stream->time_base) * 1000000;
    if (frame <= 0 || scale <= 0)
        return;
    packet->pts = int64_t(double(int64_t(count) * frame) / scale);
    packet->dts = packet->pts;
    packet->duration = int64_t(frame / scale);
    ++count;
}
