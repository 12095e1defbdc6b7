#pragma once

#include "media/AvPointers.h"

#include <QString>

#include <functional>

// The audio decoder of one input: the stream chosen and a decoder opened on it. The player paces its
// loop by the audio packets and, when it plays audio, decodes them here for the audio output.
//
// Player thread (or the audio queue thread in sync mode).
class AudioDecoder
{
public:
    AudioDecoder() = default;
    AudioDecoder(const AudioDecoder &) = delete;
    AudioDecoder &operator=(const AudioDecoder &) = delete;

    // Finds the input's audio stream and opens its decoder, with the set-up's log lines. True also when
    // the input has no audio stream (index() is then -1).
    bool open(AVFormatContext *input, const QString &fileFlag);
    void close();

    int index() const { return streamIndex; }
    qint64 startTime() const { return streamStart; }
    AVRational timeBase() const { return streamTimeBase; }
    int sampleRate() const { return context ? context->sample_rate : 0; }
    AVCodecContext *codecContext() const { return context.get(); }
    void flush();

    // Receives each decoded frame; the frame is valid only during the call.
    using FrameSink = std::function<void(AVFrame *frame)>;
    // Sends packet (null: the end of the input, which drains the decoder) and hands every frame the
    // decoder has ready to sink, in frame, which it reuses. Returns the frames handed out, or the negative
    // FFmpeg error code of a send or receive that failed. After draining, flush() before decoding more.
    int decode(const AVPacket *packet, AVFrame *frame, const FrameSink &sink);

private:
    int streamIndex = -1;
    qint64 streamStart = 0;
    AVRational streamTimeBase{0, 1};
    av::CodecContextPtr context;
};
