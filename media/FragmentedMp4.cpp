#include "media/FragmentedMp4.h"

#include "media/AvPointers.h"

#include <string>

int writeFragmentedMp4Header(AVFormatContext *ctx, int64_t fragmentUs)
{
    av::DictionaryPtr options;
    av_dict_set(av::out(options), "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    if (fragmentUs > 0)
        av_dict_set(av::out(options), "frag_duration", std::to_string(fragmentUs).c_str(), 0);
    ctx->flush_packets = 1;
    ctx->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    const int result = avformat_write_header(ctx, av::out(options));
    return result < 0 ? result : ctx->pb->error;
}
