#include "camera/sim/FrameNumberStamp.h"

#include <QImage>

#include <cstdlib>
#include <cstring>

namespace {
constexpr uint8_t Black = 16;
constexpr uint8_t White = 235;

bool blockBit(int block, uint32_t number)
{
    if (block < 2)
        return block == 0; // white, black
    if (block >= 2 + 32)
        return block == 2 + 32 + 1; // black, white
    return (number >> (31 - (block - 2))) & 1u;
}
} // namespace

void FrameNumberStamp::draw(uint32_t number, uint8_t *y, int yStride, uint8_t *u, uint8_t *v,
                            int chromaStride)
{
    for (int row = Top; row < Top + StripHeight; ++row) {
        uint8_t *line = y + row * yStride + Left;
        for (int block = 0; block < Blocks; ++block)
            std::memset(line + block * BlockWidth, blockBit(block, number) ? White : Black, BlockWidth);
    }
    for (int row = Top / 2; row < (Top + StripHeight) / 2; ++row) {
        std::memset(u + row * chromaStride + Left / 2, 128, Blocks * BlockWidth / 2);
        std::memset(v + row * chromaStride + Left / 2, 128, Blocks * BlockWidth / 2);
    }
}

int FrameNumberStamp::decode(const QImage &rgb)
{
    if (rgb.isNull())
        return -1;
    const double sx = double(rgb.width()) / FrameWidth;
    const double sy = double(rgb.height()) / FrameHeight;
    const int py = int((Top + StripHeight / 2.0) * sy);
    uint32_t number = 0;
    for (int block = 0; block < Blocks; ++block) {
        const int px = int((Left + block * BlockWidth + BlockWidth / 2.0) * sx);
        if (px >= rgb.width() || py >= rgb.height())
            return -1;
        const QRgb pixel = rgb.pixel(px, py);
        const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
        if (std::abs(r - g) > 48 || std::abs(g - b) > 48)
            return -1;
        const int grey = (r + g + b) / 3;
        bool bit;
        if (grey < 80)
            bit = false;
        else if (grey > 176)
            bit = true;
        else
            return -1;
        if (block < 2 || block >= 2 + 32) {
            if (bit != blockBit(block, 0))
                return -1;
            continue;
        }
        number = (number << 1) | (bit ? 1u : 0u);
    }
    return number > uint32_t(INT32_MAX) ? -1 : int(number);
}
