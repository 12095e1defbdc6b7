#include "media/AdtsHeader.h"

#include <QtGlobal>

namespace {
// The MPEG-4 sampling-frequency table of the ADTS header.
constexpr int kSampleRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                22050, 16000, 12000, 11025, 8000,  7350};
} // namespace

bool AdtsHeader::configFor(const AVCodecParameters *parameters, Config &config)
{
    if (parameters->codec_id != AV_CODEC_ID_AAC)
        return false;
    int objectType = parameters->profile >= 0 ? parameters->profile + 1 : 2;
    int frequencyIndex = -1;
    int channels = parameters->ch_layout.nb_channels;
    // The AudioSpecificConfig says it exactly: object type (5 bits), rate index (4), channels (4).
    const uint8_t *asc = parameters->extradata;
    if (parameters->extradata_size >= 2 && (asc[0] >> 3) != 31) {
        objectType = asc[0] >> 3;
        const int index = ((asc[0] & 7) << 1) | (asc[1] >> 7);
        if (index < 13)
            frequencyIndex = index;
        channels = (asc[1] >> 3) & 0x0F;
    }
    if (frequencyIndex < 0) {
        for (int i = 0; i < 13; ++i) {
            if (kSampleRates[i] == parameters->sample_rate)
                frequencyIndex = i;
        }
    }
    if (frequencyIndex < 0)
        return false;
    // ADTS carries object types 1 to 4; SBR and PS streams play as their AAC LC core.
    config.profile = objectType >= 1 && objectType <= 4 ? objectType - 1 : 1;
    config.frequencyIndex = frequencyIndex;
    config.channels = channels == 8 ? 7 : qBound(0, channels, 7);
    return true;
}

std::optional<std::array<uint8_t, 7>> AdtsHeader::header(const Config &config, int payloadSize)
{
    if (payloadSize < 0 || payloadSize > kMaxPayloadSize)
        return std::nullopt;
    const int length = payloadSize + 7;
    return std::array<uint8_t, 7>{
        0xFF,
        0xF1,
        uint8_t((config.profile << 6) | (config.frequencyIndex << 2) | (config.channels >> 2)),
        uint8_t(((config.channels & 3) << 6) | ((length >> 11) & 3)),
        uint8_t((length >> 3) & 0xFF),
        uint8_t(((length & 7) << 5) | 0x1F),
        0xFC};
}
