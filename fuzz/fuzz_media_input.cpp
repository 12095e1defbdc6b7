// A whole input as the player plays it: opened by InputSession from the fuzzer's bytes (through an I/O
// context over them instead of a file), its video decoded by VideoDecoder and every frame turned into an
// image by FrameConverter, its audio decoded by AudioDecoder.
//
// The work per input is bounded so that every run stays short and small: at most kMaxPackets packets and
// kMaxFrames frames, and no picture of more than kMaxPixels pixels (a stream that declares more is not
// decoded, and the decoder refuses a frame that grows past it).

#include "media/AudioDecoder.h"
#include "media/AvPointers.h"
#include "media/FrameConverter.h"
#include "media/InputSession.h"
#include "media/MediaUrl.h"
#include "media/PlaybackInput.h"
#include "media/PlayerSettings.h"
#include "media/VideoDecoder.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QLoggingCategory>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
constexpr int kMaxPackets = 50;
constexpr int kMaxFrames = 50;
constexpr int64_t kMaxPixels = 2048 * 2048;
constexpr int kIoBufferSize = 4096;

// The fuzzer's bytes as a seekable file.
struct Bytes
{
    const uint8_t *data;
    int64_t size;
    int64_t position = 0;
};

int readBytes(void *opaque, uint8_t *buffer, int bufferSize)
{
    auto *bytes = static_cast<Bytes *>(opaque);
    const int64_t count = std::min<int64_t>(bufferSize, bytes->size - bytes->position);
    if (count <= 0)
        return AVERROR_EOF;
    std::memcpy(buffer, bytes->data + bytes->position, size_t(count));
    bytes->position += count;
    return int(count);
}

int64_t seekBytes(void *opaque, int64_t offset, int whence)
{
    auto *bytes = static_cast<Bytes *>(opaque);
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return bytes->size;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = bytes->position;
        break;
    case SEEK_END:
        base = bytes->size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    // Compared before adding: a demuxer may ask for any 64-bit offset.
    if (offset < -base || offset > bytes->size - base)
        return AVERROR(EINVAL);
    bytes->position = base + offset;
    return bytes->position;
}

struct IoDeleter
{
    void operator()(AVIOContext *io) const
    {
        // The context may have replaced its buffer: free the one it has now.
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
using IoContextPtr = std::unique_ptr<AVIOContext, IoDeleter>;

IoContextPtr openBytes(Bytes &bytes)
{
    auto *buffer = static_cast<uint8_t *>(av_malloc(kIoBufferSize));
    if (!buffer)
        return nullptr;
    IoContextPtr io(avio_alloc_context(buffer, kIoBufferSize, 0, &bytes, &readBytes, nullptr, &seekBytes));
    if (!io)
        av_free(buffer);
    return io;
}

void play(InputSession &session, VideoDecoder &video, AudioDecoder &audio, FrameConverter &converter)
{
    PlayerSettings settings;
    double fps = 0;
    if (!video.open(session.context(), settings.hardware, fps, settings.fileFlag) ||
        !audio.open(session.context(), settings.fileFlag))
        return;

    int frames = 0;
    // Every image has the size the converter states, and nothing is written past an image.
    const VideoDecoder::FrameSink toImage = [&](AVFrame *frame) {
        ++frames;
        const QImage *image = nullptr;
        if (converter.convert(frame, image) == FrameConverter::Result::Converted &&
            (image->size() != converter.outputSize() || !converter.guardsIntact()))
            std::abort();
    };
    if (video.index() >= 0) {
        if (int64_t(video.width()) * video.height() > kMaxPixels)
            return;
        video.codecContext()->max_pixels = kMaxPixels;
        // As the player's open step configures it.
        const AVStream *stream = session.context()->streams[video.index()];
        const int rotation = FrameConverter::streamRotation(stream);
        if (!converter.configure(video.width(), video.height(), rotation,
                                 PlaybackInput::swsFlags(settings.imageFlag)))
            return;
    }
    av::FramePtr audioFrame(av_frame_alloc());
    const AudioDecoder::FrameSink toNothing = [](AVFrame *) {
    };

    av::PacketPtr packet(av_packet_alloc());
    for (int packets = 0; packets < kMaxPackets && frames < kMaxFrames; ++packets) {
        if (session.read(packet.get()) < 0)
            break;
        if (packet->stream_index == video.index())
            video.decode(packet.get(), toImage);
        else if (packet->stream_index == audio.index())
            audio.decode(packet.get(), audioFrame.get(), toNothing);
        av_packet_unref(packet.get());
    }
    // The end of the input drains the decoders, as the player's does.
    if (video.isOpen() && frames < kMaxFrames)
        video.decode(nullptr, toImage);
    if (audio.codecContext())
        audio.decode(nullptr, audioFrame.get(), toNothing);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    av_log_set_level(AV_LOG_QUIET);
    QLoggingCategory::setFilterRules(QStringLiteral("tarn.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bytes bytes{data, int64_t(size)};
    IoContextPtr io = openBytes(bytes);
    if (!io)
        return 0;

    // The options and rules of the player's open step for a local file.
    PlayerSettings settings;
    MediaUrl::applyUrl(settings, QStringLiteral("input"));
    av::DictionaryPtr options;
    MediaUrl::addInputOptions(av::out(options), settings);
    MediaUrl::applyOpenRules(settings);

    const std::atomic<bool> stopped{false};
    InputSession session(stopped);
    InputSession::Request request;
    request.url = settings.url;
    request.openUrl = settings.url.toUtf8();
    request.io = io.get();
    VideoDecoder video;
    AudioDecoder audio;
    FrameConverter converter;
    if (session.open(request, options))
        play(session, video, audio, converter);
    // Released in the player's order, before the bytes' I/O context.
    converter.clear();
    video.close();
    audio.close();
    session.close();
    return 0;
}
