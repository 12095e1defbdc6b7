#pragma once

#include "media/AvPointers.h"

#include <QString>

// The audio decoder of one input: the stream chosen and a decoder opened on it. The player paces its
// loop by the audio packets; playing them out comes with the audio output.
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

private:
    int streamIndex = -1;
    qint64 streamStart = 0;
    AVRational streamTimeBase{0, 1};
    av::CodecContextPtr context;
};
