#include "FramePainter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cmath>
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

bool FramePainter::setFormat(uint32_t pixelFormat, uint32_t frameWidth, uint32_t frameHeight, uint32_t fps)
{
    releaseEncoder();
    format = pixelFormat;
    width = frameWidth;
    height = frameHeight;
    luma.assign(size_t(width) * height, 0);
    gradient.resize(width);
    for (uint32_t x = 0; x < width; ++x)
        gradient[x] = uint8_t(40 + 60 * x / std::max<uint32_t>(1, width - 1));
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
    frame->format = encoder->pix_fmt;
    frame->width = encoder->width;
    frame->height = encoder->height;
    if (avcodec_open2(encoder, codec, nullptr) < 0 || av_frame_get_buffer(frame, 0) < 0) {
        releaseEncoder();
        return false;
    }
    for (int plane = 1; plane < 3; ++plane) {
        for (uint32_t y = 0; y < height; ++y)
            std::memset(frame->data[plane] + y * frame->linesize[plane], 128, width / 2);
    }
    return true;
}

void FramePainter::paintLuma(uint32_t sequence)
{
    // The spot circles the middle once every 8 s at 25 fps.
    const double angle = sequence * (2 * M_PI / 200.0);
    const int cx = int(width / 2 + std::cos(angle) * width / 4);
    const int cy = int(height / 2 + std::sin(angle) * height / 4);
    const int radius = int(std::max<uint32_t>(4, std::min(width, height) / 8));
    const int r2 = radius * radius;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = luma.data() + size_t(y) * width;
        std::memcpy(row, gradient.data(), width);
        const int dy = int(y) - cy;
        if (dy * dy >= r2)
            continue;
        const int half = int(std::sqrt(double(r2 - dy * dy)));
        const int from = std::max(0, cx - half);
        const int to = std::min(int(width), cx + half);
        for (int x = from; x < to; ++x) {
            const int dx = x - cx;
            row[x] = uint8_t(std::min(255, 120 + 135 * (r2 - dx * dx - dy * dy) / r2));
        }
    }
}

size_t FramePainter::encodeJpeg(uint8_t *out, size_t capacity)
{
    if (!encoder || av_frame_make_writable(frame) < 0)
        return 0;
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(frame->data[0] + y * frame->linesize[0], luma.data() + size_t(y) * width, width);
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

size_t FramePainter::paint(uint32_t sequence, uint8_t *out, size_t capacity, int64_t stampNs)
{
    if (width == 0)
        return 0;
    paintLuma(sequence);
    if (stampNs >= 0 && width >= 256 && height >= 4) {
        for (uint32_t bit = 0; bit < 64; ++bit) {
            const uint8_t value = (uint64_t(stampNs) >> (63 - bit)) & 1 ? 255 : 0;
            for (uint32_t y = 0; y < 4; ++y)
                std::memset(luma.data() + size_t(y) * width + bit * 4, value, 4);
        }
    }
    const size_t pixels = size_t(width) * height;
    switch (format) {
    case V4L2_PIX_FMT_GREY:
        if (capacity < pixels)
            return 0;
        std::memcpy(out, luma.data(), pixels);
        return pixels;
    case V4L2_PIX_FMT_YUYV:
        if (capacity < pixels * 2)
            return 0;
        for (size_t i = 0; i < pixels; ++i) {
            out[2 * i] = luma[i];
            out[2 * i + 1] = 128;
        }
        return pixels * 2;
    case V4L2_PIX_FMT_MJPEG:
        return encodeJpeg(out, capacity);
    default:
        return 0;
    }
}
