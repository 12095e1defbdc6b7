#pragma once

#include "ThermalScene.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

// Paints the virtual camera's picture, the thermal scene, in the pixel format of the stream (YUYV,
// GREY, Y16, or MJPEG through FFmpeg's encoder; split: YUYV with the picture in the top half and the
// scene's temperatures in the bottom half, as low-cost thermal cores send them). The scene's maps and the
// encoder are made when the format is set and reused for every frame. One thread at a time (the device's
// frame thread).
class FramePainter
{
public:
    FramePainter() = default;
    ~FramePainter();
    FramePainter(const FramePainter &) = delete;
    FramePainter &operator=(const FramePainter &) = delete;

    // False when the format cannot be painted (an encoder that does not open).
    bool setFormat(uint32_t pixelFormat, uint32_t width, uint32_t height, uint32_t fps, bool split = false);
    // Paints the scene as view shows it into out (capacity bytes); the bytes used, 0 on failure. With
    // stampNs >= 0 the top four rows carry it (the capture time, CLOCK_MONOTONIC) as 64 blocks, each 4
    // pixels wide, black for 0 and white for 1, most significant bit first: it survives the
    // conversions, so a program can time a frame from capture to screen.
    size_t paint(const ThermalScene::View &view, uint8_t *out, size_t capacity, int64_t stampNs = -1);

private:
    size_t encodeJpeg(uint8_t *out, size_t capacity);
    void releaseEncoder();

    uint32_t format = 0;
    uint32_t width = 0;
    uint32_t height = 0; // of the picture (half the frame when split)
    bool split = false;
    std::vector<uint8_t> grey; // Y16: the picture in 8 bits, widened
    ThermalScene scene;
    AVCodecContext *encoder = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
};
