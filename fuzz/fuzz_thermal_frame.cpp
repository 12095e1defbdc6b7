// The temperature reader on frames a misbehaving camera could send: any size (within what the player
// lets through), any row stride, any bytes, frames of changing sizes one after another, a spot pinned
// anywhere. Nothing it reads or writes may lie outside the frame and its own buffers.

#include "thermal/ThermalReader.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <cstdlib>
#include <vector>

namespace {
void check(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    ThermalReader reader;
    std::vector<uint8_t> bytes;
    for (int frames = input.ConsumeIntegralInRange(1, 4); frames > 0 && input.remaining_bytes() > 0;
         --frames) {
        AVFrame frame{};
        frame.format = input.ConsumeBool() ? AV_PIX_FMT_YUYV422 : input.ConsumeIntegralInRange(-1, 200);
        frame.width = input.ConsumeIntegralInRange(-2, 640);
        frame.height = input.ConsumeIntegralInRange(-2, 512);
        const int stride = input.ConsumeIntegralInRange(0, 1400);
        frame.linesize[0] = stride;
        if (input.ConsumeBool())
            reader.pinSpot(input.ConsumeIntegralInRange(-70000, 70000),
                           input.ConsumeIntegralInRange(-70000, 70000));
        else
            reader.clearSpot();
        reader.setPalette(input.ConsumeIntegralInRange(-2, 6));
        // The frame's buffer: as many rows as it says, of its stride, filled from the input.
        const size_t rows = frame.height > 0 ? size_t(frame.height) : 0;
        bytes = input.ConsumeBytes<uint8_t>(rows * size_t(stride));
        bytes.resize(rows * size_t(stride));
        frame.data[0] = bytes.empty() ? nullptr : bytes.data();
        reader.tapFrame(frame, {});
        check(reader.palette() >= 0 && reader.palette() < ThermalReader::PaletteCount);
    }
    return 0;
}
