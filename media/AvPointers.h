#pragma once
// One owner for every FFmpeg object: each type gets a std::unique_ptr alias whose deleter calls the
// matching free function. Release steps are then "reset in order", and nothing is freed twice.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/buffer.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace av {

// Free functions that take the address of the pointer (and null it).
template <auto Free> struct AddressDeleter
{
    template <class T> void operator()(T *p) const { Free(&p); }
};

// Free functions that take the pointer itself.
template <auto Free> struct PointerDeleter
{
    template <class T> void operator()(T *p) const { Free(p); }
};

struct InputDeleter
{
    void operator()(AVFormatContext *ctx) const { avformat_close_input(&ctx); }
};

struct OutputDeleter
{
    void operator()(AVFormatContext *ctx) const
    {
        if (ctx && ctx->pb && !(ctx->oformat->flags & AVFMT_NOFILE))
            avio_closep(&ctx->pb);
        avformat_free_context(ctx);
    }
};

using InputContextPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, AddressDeleter<avcodec_free_context>>;
using FramePtr = std::unique_ptr<AVFrame, AddressDeleter<av_frame_free>>;
using PacketPtr = std::unique_ptr<AVPacket, AddressDeleter<av_packet_free>>;
using BufferRefPtr = std::unique_ptr<AVBufferRef, AddressDeleter<av_buffer_unref>>;
using DictionaryPtr = std::unique_ptr<AVDictionary, AddressDeleter<av_dict_free>>;
using SwsContextPtr = std::unique_ptr<SwsContext, PointerDeleter<sws_freeContext>>;
using SwrContextPtr = std::unique_ptr<SwrContext, AddressDeleter<swr_free>>;
using BytesPtr = std::unique_ptr<uint8_t, PointerDeleter<av_free>>;
using BsfContextPtr = std::unique_ptr<AVBSFContext, AddressDeleter<av_bsf_free>>;
using CodecParametersPtr = std::unique_ptr<AVCodecParameters, AddressDeleter<avcodec_parameters_free>>;

// FFmpeg calls that (re)allocate through a T** (av_dict_set, avformat_open_input) borrow the raw pointer
// for the call and hand it back to its owner afterwards, also when the call freed or replaced it.
template <class Ptr> class OutParam
{
public:
    using Raw = typename Ptr::pointer;
    explicit OutParam(Ptr &owner) : owner(owner), raw(owner.release()) {}
    ~OutParam() { owner.reset(raw); }
    OutParam(const OutParam &) = delete;
    OutParam &operator=(const OutParam &) = delete;
    operator Raw *() { return &raw; }

private:
    Ptr &owner;
    Raw raw;
};

template <class Ptr> OutParam<Ptr> out(Ptr &owner)
{
    return OutParam<Ptr>(owner);
}

} // namespace av
