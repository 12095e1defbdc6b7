#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

// Paints the virtual camera's picture: a warm spot drifting over a cool gradient, as a thermal core
// would send it, in the pixel format of the stream (YUYV, GREY, or MJPEG through FFmpeg's encoder).
// The planes and the encoder are made when the format is set and reused for every frame. One thread
// at a time (the device's frame thread).
class FramePainter
{
public:
    FramePainter() = default;
    ~FramePainter();
    FramePainter(const FramePainter &) = delete;
    FramePainter &operator=(const FramePainter &) = delete;

    // False when the format cannot be painted (an encoder that does not open).
    bool setFormat(uint32_t pixelFormat, uint32_t width, uint32_t height, uint32_t fps);
    // Paints frame number sequence into out (capacity bytes); the bytes used, 0 on failure. With
    // stamping on, the top four rows carry stampNs (the capture time, CLOCK_MONOTONIC) as 64 blocks,
    // each 4 pixels wide, black for 0 and white for 1, most significant bit first: it survives the
    // conversions, so a program can time a frame from capture to screen.
    size_t paint(uint32_t sequence, uint8_t *out, size_t capacity, int64_t stampNs = -1);

private:
    void paintLuma(uint32_t sequence);
    size_t encodeJpeg(uint8_t *out, size_t capacity);
    void releaseEncoder();

    uint32_t format = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> luma;
    std::vector<uint8_t> gradient; // one row of the background
    AVCodecContext *encoder = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
};
