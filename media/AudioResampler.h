#pragma once

#include "media/AvPointers.h"

#include <functional>

// Turns decoded audio frames into interleaved signed 16-bit stereo, the format the audio output plays, at
// the decoder's own rate or at the rate the output asks for. The input's layout is taken as the default
// one for its channel count.
//
// One thread at a time (the player thread, or the audio queue thread in sync mode).
class AudioResampler
{
public:
    // Stereo samples the buffer holds; longer frames are converted in pieces of this size.
    static constexpr int kCapacitySamples = 72000;
    static constexpr int kBytesPerSample = 4; // two channels of 16 bits
    // Receives converted bytes (interleaved S16 stereo); called once per piece.
    using Sink = std::function<void(const char *data, int bytes)>;

    AudioResampler() = default;
    AudioResampler(const AudioResampler &) = delete;
    AudioResampler &operator=(const AudioResampler &) = delete;

    // Sets up the conversion from the decoder's format to outputRate (0: the decoder's rate). False when
    // the resampler or its buffer cannot be made (allocationFailed() says which).
    bool open(const AVCodecContext *decoder, int outputRate = 0);
    void close();
    bool isOpen() const { return context != nullptr; }
    bool allocationFailed() const { return bufferFailed; }
    int sampleRate() const { return rate; }

    // Converts every sample of frame and hands the bytes to sink. Returns the stereo samples written, or
    // a negative FFmpeg error code. Allocates nothing.
    int convert(const AVFrame *frame, const Sink &sink);

private:
    av::SwrContextPtr context;
    av::BytesPtr buffer;
    int rate = 0;
    int inputRate = 0;
    int inputChannels = 0;
    AVSampleFormat inputFormat = AV_SAMPLE_FMT_NONE;
    bool bufferFailed = false;
};
