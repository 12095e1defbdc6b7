#include "FramePainter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
}

#include <cstring>
#include <linux/videodev2.h>

FramePainter::~FramePainter()
{
    releaseEncoder();
}

void FramePainter::releaseEncoder()
{
    avcodec_free_context(&encoder);
    av_frame_free(&frame);
    av_packet_free(&packet);
}

bool FramePainter::setFormat(uint32_t pixelFormat, uint32_t frameWidth, uint32_t frameHeight, uint32_t fps,
                             bool splitFrame)
{
    releaseEncoder();
    format = pixelFormat;
    width = frameWidth;
    split = splitFrame && pixelFormat == V4L2_PIX_FMT_YUYV;
    height = split ? frameHeight / 2 : frameHeight;
    scene.setRadiometric(split);
    grey.assign(format == V4L2_PIX_FMT_Y16 ? size_t(width) * height : 0, 0);
    // YUYV is video range, as a UVC camera sends it; JPEG and greyscale are full range.
    scene.setSize(int(width), int(height), format != V4L2_PIX_FMT_YUYV);
    if (format != V4L2_PIX_FMT_MJPEG)
        return true;

    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    encoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    frame = av_frame_alloc();
    packet = av_packet_alloc();
    if (!encoder || !frame || !packet) {
        releaseEncoder();
        return false;
    }
    encoder->width = int(width);
    encoder->height = int(height);
    encoder->pix_fmt = AV_PIX_FMT_YUVJ422P;
    encoder->time_base = AVRational{1, int(fps)};
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    encoder->global_quality = FF_QP2LAMBDA * 4;
    frame->quality = encoder->global_quality;
    frame->format = encoder->pix_fmt;
    frame->width = encoder->width;
    frame->height = encoder->height;
    // The standard Huffman tables: "optimal" ones cost a second pass over every frame.
    AVDictionary *options = nullptr;
    av_dict_set(&options, "huffman", "default", 0);
    const int opened = avcodec_open2(encoder, codec, &options);
    av_dict_free(&options);
    if (opened < 0 || av_frame_get_buffer(frame, 0) < 0) {
        releaseEncoder();
        return false;
    }
    return true;
}

size_t FramePainter::encodeJpeg(uint8_t *out, size_t capacity)
{
    size_t used = 0;
    if (avcodec_send_frame(encoder, frame) < 0)
        return 0;
    while (avcodec_receive_packet(encoder, packet) == 0) {
        if (size_t(packet->size) <= capacity) {
            std::memcpy(out, packet->data, size_t(packet->size));
            used = size_t(packet->size);
        }
        av_packet_unref(packet);
    }
    return used;
}

size_t FramePainter::paint(const ThermalScene::View &view, uint8_t *out, size_t capacity, int64_t stampNs)
{
    if (width == 0)
        return 0;
    const size_t pixels = size_t(width) * height;
    ThermalScene::Target target;
    switch (format) {
    case V4L2_PIX_FMT_GREY:
        if (capacity < pixels)
            return 0;
        target.y = out;
        target.lumaStride = width;
        break;
    case V4L2_PIX_FMT_Y16:
        if (capacity < pixels * 2)
            return 0;
        target.y = grey.data();
        target.lumaStride = width;
        break;
    case V4L2_PIX_FMT_YUYV:
        if (capacity < pixels * (split ? 4 : 2))
            return 0;
        target = {out, out + 1, out + 3, size_t(width) * 2, size_t(width) * 2, 2, 4};
        break;
    case V4L2_PIX_FMT_MJPEG:
        // The encoder has given the frame back (it copies what it keeps), so its planes are free.
        if (!encoder || av_frame_make_writable(frame) < 0)
            return 0;
        target = {frame->data[0],
                  frame->data[1],
                  frame->data[2],
                  size_t(frame->linesize[0]),
                  size_t(frame->linesize[1]),
                  1,
                  1};
        break;
    default:
        return 0;
    }
    scene.render(view, target);
    if (stampNs >= 0 && width >= 256 && height >= 4) {
        for (int bit = 0; bit < 64; ++bit) {
            const uint8_t value = (uint64_t(stampNs) >> (63 - bit)) & 1 ? 255 : 0;
            scene.fill(target, bit * 4, 0, 4, 4, {value, 128, 128});
        }
    }
    if (format == V4L2_PIX_FMT_MJPEG)
        return encodeJpeg(out, capacity);
    if (format == V4L2_PIX_FMT_Y16) {
        // Little-endian, the 8-bit level in both bytes: full scale stays full scale.
        for (size_t i = 0; i < pixels; ++i)
            out[2 * i] = out[2 * i + 1] = grey[i];
    }
    if (split) {
        scene.renderKelvin(out + pixels * 2, size_t(width) * 2);
        return pixels * 4;
    }
    return format == V4L2_PIX_FMT_GREY ? pixels : pixels * 2;
}
