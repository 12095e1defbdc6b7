// The ADTS header of the recorder's raw AAC files: AdtsHeader::configFor on any codec parameters
// (codec, profile, sample rate, channels and AudioSpecificConfig from the fuzzer's bytes), then
// AdtsHeader::header for any payload size an AVPacket can have, read back field by field.

#include "media/AdtsHeader.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {
// The largest frame (header included) the 13-bit length field of an ADTS header can state.
constexpr int64_t kMaxFrameLength = (1 << 13) - 1;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkHeader(const AdtsHeader::Config &config, int payloadSize)
{
    const std::optional<std::array<uint8_t, 7>> made = AdtsHeader::header(config, payloadSize);
    const int64_t length = int64_t(payloadSize) + 7;
    // No header can state a length outside the 13-bit field: one written anyway would state another,
    // and a reader would cut the stream at the wrong place. Such sizes get none.
    if (payloadSize < 0 || length > kMaxFrameLength) {
        check(!made);
        return;
    }
    check(made.has_value());
    const std::array<uint8_t, 7> &h = *made;
    // Sync word 0xFFF, MPEG-4, layer 0; whether a CRC follows is left to the header.
    const bool synced = h[0] == 0xFF && (h[1] & 0xF6) == 0xF0;
    const int frameLength = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
    check(synced);
    check(h[1] == 0xF1); // no CRC
    check((h[2] >> 6) == config.profile);
    check(((h[2] >> 2) & 0x0F) == config.frequencyIndex);
    check((((h[2] & 1) << 2) | (h[3] >> 6)) == config.channels);
    check(frameLength == length);
    check((((h[5] & 0x1F) << 6) | (h[6] >> 2)) == 0x7FF); // buffer fullness: variable bit rate
    check((h[6] & 3) == 0);                               // one raw data block
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    AVCodecParameters *parameters = avcodec_parameters_alloc();
    if (!parameters)
        return 0;
    parameters->codec_type = AVMEDIA_TYPE_AUDIO;
    // Mostly AAC, sometimes another codec, which has no ADTS header.
    parameters->codec_id = input.ConsumeIntegralInRange(0, 15) == 15 ? AV_CODEC_ID_MP3 : AV_CODEC_ID_AAC;
    parameters->profile = input.ConsumeIntegral<int8_t>();
    parameters->sample_rate = input.ConsumeIntegral<int>();
    parameters->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
    parameters->ch_layout.nb_channels = input.ConsumeIntegral<int8_t>();
    // Two payload sizes within what an AVPacket can hold, the first one mostly small.
    const int maxPayload = INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE;
    const int small = input.ConsumeIntegralInRange(0, 1 << 14);
    const int any = input.ConsumeIntegralInRange(0, maxPayload);
    const std::vector<uint8_t> extradata = input.ConsumeRemainingBytes<uint8_t>();
    if (!extradata.empty()) {
        parameters->extradata =
            static_cast<uint8_t *>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (parameters->extradata) {
            std::memcpy(parameters->extradata, extradata.data(), extradata.size());
            parameters->extradata_size = int(extradata.size());
        }
    }

    AdtsHeader::Config config;
    const bool known = AdtsHeader::configFor(parameters, config);
    check(!known || parameters->codec_id == AV_CODEC_ID_AAC);
    if (known) {
        check(config.profile >= 0 && config.profile <= 3);
        check(config.frequencyIndex >= 0 && config.frequencyIndex <= 12);
        check(config.channels >= 0 && config.channels <= 7);
    } else {
        // The recorder writes no AAC then; the header is still checked, with the default parameters.
        config = AdtsHeader::Config();
    }
    checkHeader(config, small);
    checkHeader(config, any);
    avcodec_parameters_free(&parameters);
    return 0;
}
