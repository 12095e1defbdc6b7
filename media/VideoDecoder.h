#pragma once

#include "media/AvPointers.h"

#include <QString>

#include <functional>

// The video decoder of one input: the stream chosen, a decoder opened on it in software or on a
// hardware device ("qsv", or an FFmpeg device type name such as "vaapi"), and decoding.
//
// The hardware roads negotiate the surface format through get_format callbacks whose state belongs to
// this decoder (its opaque pointer), so players with different hardware never share it.
//
// Thread: the one that decodes (the player thread, or the video queue thread in sync mode).
class VideoDecoder
{
public:
    // Called with every decoded frame, in display order. The frame is the decoder's own and is
    // overwritten by the next one.
    using FrameSink = std::function<void(AVFrame *frame)>;

    VideoDecoder() = default;
    VideoDecoder(const VideoDecoder &) = delete;
    VideoDecoder &operator=(const VideoDecoder &) = delete;

    // Finds the input's video stream and opens its decoder, with the set-up's log lines. videoFps 0 takes
    // the stream's own rate. True also when the input has no video stream (index() is then -1).
    bool open(AVFormatContext *input, const QString &hardware, double &videoFps, const QString &fileFlag);
    void close();

    int index() const { return streamIndex; }
    bool isOpen() const { return bool(context); }
    bool isSoftware() const { return software; }
    int width() const { return frameWidth; }
    int height() const { return frameHeight; }
    qint64 startTime() const { return streamStart; }
    // Pixel format the frames reach the converter in (NV12 after a hardware transfer).
    AVPixelFormat sourceFormat() const;
    AVCodecContext *codecContext() const { return context.get(); }

    // Sends one packet (null drains the decoder at the end of input) and hands every frame the decoder
    // then has ready to sink. Returns the number of frames handed out, or the negative FFmpeg error
    // that stopped decoding.
    int decode(const AVPacket *packet, const FrameSink &sink);
    void flush();

private:
    // A decoder context for codec filled from the stream's parameters.
    bool allocateContext(const AVStream *stream, const QString &fileFlag);
    bool openHardware(const AVStream *stream, const QString &hardware, const QString &fileFlag);
    bool openQsv(const AVStream *stream, const QString &fileFlag);
    int decodeHardware(const AVPacket *packet);
    static AVPixelFormat hwGetFormat(AVCodecContext *context, const AVPixelFormat *formats);
    static AVPixelFormat qsvGetFormat(AVCodecContext *context, const AVPixelFormat *formats);

    int streamIndex = -1;
    const AVCodec *codec = nullptr;
    av::CodecContextPtr context;
    av::BufferRefPtr hwDeviceRef;
    // Surface format the generic hardware road expects; -1 when none.
    int hwPixelFormat = -1;
    bool software = true;
    bool frameTransferred = false;
    int frameWidth = 0;
    int frameHeight = 0;
    qint64 streamStart = 0;
    av::FramePtr frame;
    av::FramePtr hwFrame;
};
