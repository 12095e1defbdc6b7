#include "PacketClock.h"

void PacketClock::stamp(AVPacket *packet, const AVStream *stream)
{
    if (packet->pts != AV_NOPTS_VALUE)
        return;
    const AVRational rate = usableRate(stream);
    const AVCodecParameters *par = stream->codecpar;
    if (rate.num > 0 && rate.den > 0) {
        // Frame duration in whole microseconds, then into the time base, truncated at each step.
        const int64_t frame = int64_t(1000000 / av_q2d(rate));
        const double scale = av_q2d(stream->time_base) * 1000000;
        packet->pts = int64_t(double(int64_t(count) * frame) / scale);
        packet->duration = int64_t(frame / scale);
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->frame_size > 0 && par->sample_rate > 0) {
        // Audio has no frame rate: count samples, exactly.
        const AVRational sample = {1, par->sample_rate};
        packet->pts = av_rescale_q(int64_t(count) * par->frame_size, sample, stream->time_base);
        packet->duration = av_rescale_q(par->frame_size, sample, stream->time_base);
    } else {
        return;
    }
    packet->dts = packet->pts;
    ++count;
}

AVRational PacketClock::usableRate(const AVStream *stream)
{
    const AVRational rate = stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0 && av_q2d(rate) > kMaxFrameRate)
        return kFallbackRate;
    return rate;
}
