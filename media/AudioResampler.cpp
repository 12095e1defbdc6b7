#include "media/AudioResampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>

bool AudioResampler::open(const AVCodecContext *decoder, int outputRate)
{
    close();
    inputRate = decoder->sample_rate;
    rate = outputRate > 0 ? outputRate : inputRate;
    inputChannels = decoder->ch_layout.nb_channels;
    inputFormat = decoder->sample_fmt;
    if (inputRate <= 0 || rate <= 0 || inputChannels <= 0 || inputFormat == AV_SAMPLE_FMT_NONE)
        return false;

    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    AVChannelLayout input{};
    av_channel_layout_default(&input, inputChannels);
    SwrContext *raw = nullptr;
    const int result = swr_alloc_set_opts2(&raw, &stereo, AV_SAMPLE_FMT_S16, rate, &input, inputFormat,
                                           inputRate, 0, nullptr);
    av_channel_layout_uninit(&input);
    context.reset(raw);
    if (result < 0 || swr_init(context.get()) < 0) {
        context.reset();
        return false;
    }
    buffer.reset(static_cast<uint8_t *>(av_malloc(size_t(kCapacitySamples) * kBytesPerSample)));
    if (!buffer) {
        bufferFailed = true;
        context.reset();
        return false;
    }
    return true;
}

void AudioResampler::close()
{
    context.reset();
    buffer.reset();
    rate = 0;
    inputRate = 0;
    inputChannels = 0;
    inputFormat = AV_SAMPLE_FMT_NONE;
    bufferFailed = false;
}

int AudioResampler::convert(const AVFrame *frame, const Sink &sink)
{
    if (!context || !frame || frame->nb_samples <= 0)
        return 0;
    // The frame's planes, moved on by each piece. Planar formats have one plane per channel, packed ones
    // a single plane with the channels interleaved.
    const bool planar = av_sample_fmt_is_planar(AVSampleFormat(frame->format));
    const int planes = planar ? frame->ch_layout.nb_channels : 1;
    if (frame->format != inputFormat || frame->ch_layout.nb_channels != inputChannels ||
        planes > AV_NUM_DATA_POINTERS)
        return AVERROR(EINVAL);
    const int stride = av_get_bytes_per_sample(inputFormat) * (planar ? 1 : inputChannels);
    const uint8_t *in[AV_NUM_DATA_POINTERS] = {};
    uint8_t *out[1] = {buffer.get()};
    int total = 0;
    // Input samples per piece, so that a piece raised to the output rate still fits the buffer.
    // (A resampler keeps a few samples of its filter back: 64 is ample room for them.)
    const int pieceSamples =
        rate == inputRate ? kCapacitySamples
                          : std::max(1, int(std::min<int64_t>(kCapacitySamples,
                                                              int64_t(kCapacitySamples) * inputRate / rate)) -
                                            64);
    while (total < frame->nb_samples) {
        const int piece = std::min(pieceSamples, frame->nb_samples - total);
        for (int p = 0; p < planes; ++p)
            in[p] = frame->extended_data[p] + size_t(total) * stride;
        const int converted = swr_convert(context.get(), out, kCapacitySamples, in, piece);
        if (converted < 0)
            return converted;
        if (converted > 0)
            sink(reinterpret_cast<const char *>(buffer.get()), converted * kBytesPerSample);
        total += piece;
    }
    return total;
}
