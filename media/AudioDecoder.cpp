#include "media/AudioDecoder.h"

#include "media/LogTime.h"
#include "media/MediaLog.h"

bool AudioDecoder::open(AVFormatContext *input, const QString &fileFlag)
{
    close();
    const AVCodec *codec = nullptr;
    streamIndex = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (streamIndex < 0) {
        streamIndex = -1;
        qCDebug(lcMedia) << TIMEMS << fileFlag << "find audio stream index error";
        return true;
    }
    const AVStream *stream = input->streams[streamIndex];
    codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        qCDebug(lcMedia) << TIMEMS << fileFlag << "audio codec not found";
        return false;
    }
    context.reset(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_to_context(context.get(), stream->codecpar) < 0) {
        qCDebug(lcMedia) << TIMEMS << fileFlag << "audio codec not found";
        return false;
    }
    context->pkt_timebase = stream->time_base;
    const int result = avcodec_open2(context.get(), codec, nullptr);
    if (result < 0) {
        qCDebug(lcMedia) << TIMEMS << fileFlag << "open audio codec error" << media::errorText(result);
        return false;
    }
    streamStart = stream->start_time;
    streamTimeBase = stream->time_base;

    qCDebug(lcMedia) << TIMEMS << fileFlag
                     << qUtf8Printable(
                            QStringLiteral("音频信息 -> 索引: %1  解码: %2  比特率: %3  声道数: %4  采样: %5")
                                .arg(streamIndex)
                                .arg(QString::fromUtf8(codec->name))
                                .arg(input->bit_rate)
                                .arg(2)
                                .arg(context->sample_rate));
    return true;
}

void AudioDecoder::close()
{
    context.reset();
    streamIndex = -1;
    streamStart = 0;
    streamTimeBase = AVRational{0, 1};
}

void AudioDecoder::flush()
{
    if (context)
        avcodec_flush_buffers(context.get());
}

int AudioDecoder::decode(const AVPacket *packet, AVFrame *frame, const FrameSink &sink)
{
    if (!context)
        return AVERROR(EINVAL);
    int result = avcodec_send_packet(context.get(), packet);
    // Draining a decoder that was drained already: nothing more comes out.
    if (result == AVERROR_EOF && !packet)
        return 0;
    if (result < 0)
        return result;
    int frames = 0;
    while ((result = avcodec_receive_frame(context.get(), frame)) >= 0) {
        ++frames;
        sink(frame);
        av_frame_unref(frame);
    }
    return result == AVERROR(EAGAIN) || result == AVERROR_EOF ? frames : result;
}
