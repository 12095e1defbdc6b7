#pragma once

#include "media/AvPointers.h"

#include <array>
#include <cstdint>
#include <optional>

// The 7-byte header in front of each raw AAC frame of an ADTS file, made from the stream's real profile,
// sampling rate and channels (so that a 48 kHz or mono recording plays at its own speed).
namespace AdtsHeader {

// The AAC parameters an ADTS header carries.
struct Config
{
    int profile = 1;        // audio object type − 1 (1: AAC LC)
    int frequencyIndex = 4; // index into the MPEG-4 sampling-frequency table
    int channels = 2;       // channel configuration
};

// The ADTS parameters of an AAC stream; false when the stream is not AAC or the rate has no index.
bool configFor(const AVCodecParameters *parameters, Config &config);
// The header's frame length (13 bits) counts the header's 7 bytes too: the largest payload it can describe.
constexpr int kMaxPayloadSize = 8191 - 7;

// The header of one raw AAC frame of payloadSize bytes; none for a size outside 0..kMaxPayloadSize, whose
// length the header cannot express.
std::optional<std::array<uint8_t, 7>> header(const Config &config, int payloadSize);

} // namespace AdtsHeader
