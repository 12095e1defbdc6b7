#include "media/VideoDecoder.h"

#include "media/LogTime.h"
#include "media/MediaLog.h"
#include "media/PixelLimit.h"

extern "C" {
#include <libavutil/hwcontext.h>
}

#include <cstring>

namespace {
double rationalValue(AVRational q)
{
    return q.den != 0 ? double(q.num) / q.den : 0.0;
}

// Surface format each generic hardware device type decodes into.
int hardwareSurfaceFormat(AVHWDeviceType type)
{
    switch (type) {
    case AV_HWDEVICE_TYPE_DXVA2:
        return AV_PIX_FMT_DXVA2_VLD;
    case AV_HWDEVICE_TYPE_D3D11VA:
        return AV_PIX_FMT_D3D11;
    case AV_HWDEVICE_TYPE_VAAPI:
        return AV_PIX_FMT_VAAPI;
    case AV_HWDEVICE_TYPE_VDPAU:
        return AV_PIX_FMT_VDPAU;
    case AV_HWDEVICE_TYPE_VIDEOTOOLBOX:
        return AV_PIX_FMT_VIDEOTOOLBOX;
    default:
        return -1;
    }
}
} // namespace

bool VideoDecoder::open(AVFormatContext *input, const QString &hardware, double &videoFps,
                        const QString &fileFlag)
{
    close();
    streamIndex = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (streamIndex < 0) {
        streamIndex = -1;
        qCDebug(lcMedia) << TIMEMS << fileFlag << "find video stream index error";
        return true;
    }
    const AVStream *stream = input->streams[streamIndex];

    software = hardware == QLatin1String("none");
    if (software) {
        codec = avcodec_find_decoder(stream->codecpar->codec_id);
        if (!codec) {
            qCDebug(lcMedia) << TIMEMS << fileFlag << "video decoder not found";
            return false;
        }
        if (!allocateContext(stream, fileFlag))
            return false;
    } else if (hardware == QLatin1String("qsv")) {
        if (!openQsv(stream, fileFlag))
            return false;
    } else if (!openHardware(stream, hardware, fileFlag)) {
        return false;
    }
    context->pkt_timebase = stream->time_base;
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER | AV_CODEC_FLAG_LOW_DELAY;
    context->flags2 |= AV_CODEC_FLAG2_FAST;
    // A frame above the limit is refused by the decoder before it allocates one.
    context->max_pixels = media::kMaxPicturePixels;

    const int result = avcodec_open2(context.get(), codec, nullptr);
    if (result < 0) {
        qCDebug(lcMedia) << TIMEMS << fileFlag << "open video codec error" << media::errorText(result);
        return false;
    }

    frameWidth = stream->codecpar->width;
    frameHeight = stream->codecpar->height;
    if (frameWidth == 0 || frameHeight == 0) {
        qCDebug(lcMedia) << TIMEMS << fileFlag << "find width height error";
        return false;
    }
    streamStart = stream->start_time;

    const double fps = rationalValue(stream->r_frame_rate);
    qCDebug(lcMedia)
        << TIMEMS << fileFlag
        << qUtf8Printable(QStringLiteral("Other Info -> start_time: %1  r_frame_rate: %2  avg_frame_rate: %3")
                              .arg(streamStart)
                              .arg(qint64(fps))
                              .arg(qint64(rationalValue(stream->avg_frame_rate))));
    if (videoFps == 0.0 && fps > 0)
        videoFps = fps;

    frame.reset(av_frame_alloc());
    hwFrame.reset(av_frame_alloc());
    if (!frame || !hwFrame)
        return false;
    frameTransferred = false;

    qCDebug(lcMedia) << TIMEMS << fileFlag
                     << qUtf8Printable(
                            QStringLiteral("Video Info -> Index: %1  Decode: %2  fps: %3  Size: %4*%5")
                                .arg(streamIndex)
                                .arg(QString::fromUtf8(codec->name))
                                .arg(fps)
                                .arg(frameWidth)
                                .arg(frameHeight));
    return true;
}

void VideoDecoder::close()
{
    frame.reset();
    hwFrame.reset();
    context.reset();
    hwDeviceRef.reset();
    codec = nullptr;
    streamIndex = -1;
    hwPixelFormat = -1;
    software = true;
    frameTransferred = false;
    frameWidth = frameHeight = 0;
    streamStart = 0;
}

AVPixelFormat VideoDecoder::sourceFormat() const
{
    if (!software)
        return AV_PIX_FMT_NV12;
    return context ? context->pix_fmt : AV_PIX_FMT_NONE;
}

bool VideoDecoder::allocateContext(const AVStream *stream, const QString &fileFlag)
{
    context.reset(avcodec_alloc_context3(codec));
    if (!context) {
        qCDebug(lcMedia) << TIMEMS << fileFlag << "avcodec_alloc_context3 error";
        return false;
    }
    if (avcodec_parameters_to_context(context.get(), stream->codecpar) < 0) {
        qCDebug(lcMedia) << TIMEMS << fileFlag << "avcodec_parameters_to_context error";
        return false;
    }
    return true;
}

bool VideoDecoder::openHardware(const AVStream *stream, const QString &hardware, const QString &fileFlag)
{
    const AVHWDeviceType type = av_hwdevice_find_type_by_name(hardware.toUtf8().constData());
    hwPixelFormat = hardwareSurfaceFormat(type);
    if (hwPixelFormat < 0) {
        qCDebug(lcMedia) << TIMEMS << fileFlag << "cannot support hardware";
        return false;
    }
    if (!allocateContext(stream, fileFlag))
        return false;
    context->opaque = this;
    context->get_format = &VideoDecoder::hwGetFormat;

    av::BufferRefPtr device;
    const int result = av_hwdevice_ctx_create(av::out(device), type, nullptr, nullptr, 0);
    if (result < 0) {
        qCDebug(lcMedia) << TIMEMS << fileFlag << "open the hardware device error"
                         << media::errorText(result);
        return false;
    }
    context->hw_device_ctx = av_buffer_ref(device.get());
    return true;
}

bool VideoDecoder::openQsv(const AVStream *stream, const QString &fileFlag)
{
    const int result = av_hwdevice_ctx_create(av::out(hwDeviceRef), AV_HWDEVICE_TYPE_QSV, "auto", nullptr, 0);
    if (result < 0) {
        qCDebug(lcMedia) << TIMEMS << fileFlag << "open the hardware device error"
                         << media::errorText(result);
        return false;
    }
    codec = avcodec_find_decoder_by_name("h264_qsv");
    if (!codec) {
        qCDebug(lcMedia) << TIMEMS << fileFlag << "video decoder not found";
        return false;
    }
    context.reset(avcodec_alloc_context3(codec));
    if (!context) {
        qCDebug(lcMedia) << TIMEMS << fileFlag << "avcodec_alloc_context3 error";
        return false;
    }
    context->codec_id = AV_CODEC_ID_H264;
    const AVCodecParameters *par = stream->codecpar;
    if (par->extradata_size > 0) {
        auto *extra =
            static_cast<uint8_t *>(av_mallocz(size_t(par->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!extra)
            return false;
        memcpy(extra, par->extradata, size_t(par->extradata_size));
        context->extradata = extra;
        context->extradata_size = par->extradata_size;
    }
    context->opaque = this;
    context->get_format = &VideoDecoder::qsvGetFormat;
    return true;
}

// Decoder threads, during negotiation.
AVPixelFormat VideoDecoder::hwGetFormat(AVCodecContext *context, const AVPixelFormat *formats)
{
    const auto *decoder = static_cast<const VideoDecoder *>(context->opaque);
    for (const AVPixelFormat *p = formats; *p != AV_PIX_FMT_NONE; ++p) {
        if (*p == decoder->hwPixelFormat)
            return *p;
    }
    qCDebug(lcMedia) << TIMEMS << "Failed to get HW surface format";
    return AV_PIX_FMT_NONE;
}

// The first negotiation builds the frames context on the decoder's device and releases its reference
// (the frames context keeps the device); a later negotiation finds it released and refuses.
AVPixelFormat VideoDecoder::qsvGetFormat(AVCodecContext *context, const AVPixelFormat *formats)
{
    auto *decoder = static_cast<VideoDecoder *>(context->opaque);
    for (const AVPixelFormat *p = formats; *p != AV_PIX_FMT_NONE; ++p) {
        if (*p != AV_PIX_FMT_QSV)
            continue;
        if (!decoder->hwDeviceRef)
            return AV_PIX_FMT_NONE;
        av_buffer_unref(&context->hw_frames_ctx);
        context->hw_frames_ctx = av_hwframe_ctx_alloc(decoder->hwDeviceRef.get());
        decoder->hwDeviceRef.reset();
        if (!context->hw_frames_ctx)
            return AV_PIX_FMT_NONE;
        auto *frames = reinterpret_cast<AVHWFramesContext *>(context->hw_frames_ctx->data);
        frames->format = AV_PIX_FMT_QSV;
        frames->sw_format = context->sw_pix_fmt;
        frames->width = FFALIGN(context->coded_width, 32);
        frames->height = FFALIGN(context->coded_height, 32);
        frames->initial_pool_size = 32;
        return av_hwframe_ctx_init(context->hw_frames_ctx) < 0 ? AV_PIX_FMT_NONE : AV_PIX_FMT_QSV;
    }
    qCDebug(lcMedia) << TIMEMS << "The QSV pixel format not offered in get_format()";
    return AV_PIX_FMT_NONE;
}

int VideoDecoder::decode(const AVPacket *packet, const FrameSink &sink)
{
    if (!context)
        return AVERROR(EINVAL);
    if (!software) {
        const int result = decodeHardware(packet);
        if (result < 0)
            return result;
        // Nothing to show before the first transferred frame; after it, the newest frame goes out once
        // per packet.
        if (!frameTransferred)
            return AVERROR(EAGAIN);
        sink(frame.get());
        return 1;
    }

    int result = avcodec_send_packet(context.get(), packet);
    if (result < 0)
        return result;
    // Every frame the decoder has ready goes out now, so none is held back behind its packet.
    int frames = 0;
    while ((result = avcodec_receive_frame(context.get(), frame.get())) >= 0) {
        ++frames;
        sink(frame.get());
    }
    return frames > 0 ? frames : result;
}

// Sends the packet and transfers every frame the hardware decoder has ready, each over the previous one,
// so frame ends with the newest.
int VideoDecoder::decodeHardware(const AVPacket *packet)
{
    int result = avcodec_send_packet(context.get(), packet);
    if (result < 0) {
        qCDebug(lcMedia) << TIMEMS << "Error during decoding";
        return result;
    }
    while (true) {
        result = avcodec_receive_frame(context.get(), hwFrame.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return 1;
        if (result < 0) {
            qCDebug(lcMedia) << TIMEMS << "Error during decoding";
            return 1;
        }
        const int transferred = av_hwframe_transfer_data(frame.get(), hwFrame.get(), 0);
        if (transferred < 0) {
            qCDebug(lcMedia) << TIMEMS << "Error transferring the data to system memory";
            av_frame_unref(frame.get());
            av_frame_unref(hwFrame.get());
            return transferred;
        }
        frameTransferred = true;
    }
}

void VideoDecoder::flush()
{
    if (context)
        avcodec_flush_buffers(context.get());
}
