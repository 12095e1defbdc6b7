#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdint>

// The MP4 layout both the recorder and the clip writer use, so that a file cut short by a crash, a
// full disk or a power loss plays up to its last fragment: the index up front (an empty moov), a
// fragment at each key frame (and at least every fragmentUs when it is not 0), each one flushed to the
// file as it is made. Writes the header of CTX, whose pb is open; returns the first error, the pb's
// included (a header the disk did not take whole).
int writeFragmentedMp4Header(AVFormatContext *ctx, int64_t fragmentUs = 0);
