#pragma once

#include <QRect>

#include <cstdint>

class QImage;

// A frame's sequence number written into its picture as a strip of black and white blocks in luma
// with neutral chroma, so that it survives the conversion to RGB (and moderate scaling): a white and a
// black guard block, 32 bits most significant first, a black and a white guard block.
class FrameNumberStamp
{
public:
    static constexpr int FrameWidth = 640;
    static constexpr int FrameHeight = 512;
    static constexpr int BlockWidth = 16;
    static constexpr int StripHeight = 8;
    static constexpr int Blocks = 2 + 32 + 2;
    static constexpr int Left = 32;
    static constexpr int Top = FrameHeight - StripHeight;

    // Draws the strip into a FrameWidth × FrameHeight 4:2:0 picture (limited-range luma).
    static void draw(uint32_t number, uint8_t *y, int yStride, uint8_t *u, uint8_t *v, int chromaStride);
    // The number stamped into an RGB picture of any size with the frame's aspect, or -1 when the strip
    // is not there.
    static int decode(const QImage &rgb);
    // Where the strip lies in a FrameWidth × FrameHeight picture.
    static QRect area() { return QRect(Left, Top, Blocks * BlockWidth, StripHeight); }
};
