#include "media/ClipRecorder.h"

#include "media/FragmentedMp4.h"

#include "media/MediaLog.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>

namespace {
// Capture times are µs; the file counts in the 90 kHz clock of video (exact for 25, 30, 50 and 60 fps).
constexpr AVRational kTimeBase{1, 90000};
constexpr AVRational kMicroseconds{1, 1000000};
// A rate outside this range is not a camera's: the clip is then timed at 25 fps.
constexpr int kMaxFps = 1000;

QString reasonLine(int error, const QString &what)
{
    const QString line = QStringLiteral("%1 (%2)").arg(what, media::errorText(error));
    return error == AVERROR(ENOSPC) ? QStringLiteral("disk full: ") + line : line;
}

// ffmpeg's own names (yuyv422, gray, ...) for the log.
const char *formatName(int format)
{
    const char *name = av_get_pix_fmt_name(AVPixelFormat(format));
    return name ? name : "?";
}
} // namespace

ClipRecorder::ClipRecorder(QObject *parent) : QObject(parent)
{
    for (Slot &slot : queue)
        slot.frame.reset(av_frame_alloc());
}

ClipRecorder::~ClipRecorder()
{
    stop();
}

bool ClipRecorder::start(const QString &name)
{
    if (recording) {
        lastError = QStringLiteral("a clip is being recorded already (%1)").arg(fileName);
        return false;
    }
    // A clip that ended by itself (a failure) still has its thread, now done or about to be.
    if (thread) {
        thread->wait();
        thread.reset();
    }
    const QFileInfo info(name);
    if (name.isEmpty() || info.isDir()) {
        lastError = QStringLiteral("no file name for the clip");
        return false;
    }
    const QFileInfo dir(info.absolutePath());
    if (!dir.isDir() || !dir.isWritable()) {
        lastError = QStringLiteral("cannot write a clip into %1: the folder %2")
                        .arg(dir.filePath(), dir.exists() ? QStringLiteral("is not writable")
                                                          : QStringLiteral("does not exist"));
        return false;
    }
    lastError.clear();
    fileName = info.absoluteFilePath();
    lastPts = AV_NOPTS_VALUE;
    wholeBytes = 0;
    wholeFrames = 0;
    wholeEndPts = 0;
    packetsWritten = 0;
    writtenEndPts = 0;
    dropped = 0;
    hasFirst = false;
    firstCaptureUs = 0;
    lastCaptureUs = 0;
    {
        std::unique_lock lock(mutex);
        head = 0;
        count = 0;
        stopRequested = false;
        recording = true;
    }
    thread.reset(QThread::create([this] { encodeLoop(); }));
    thread->setObjectName(QStringLiteral("tarn-clip")); // the OS thread's name too
    thread->start();
    qCDebug(lcClip) << "clip started:" << fileName;
    return true;
}

void ClipRecorder::stop()
{
    if (!thread)
        return;
    {
        std::unique_lock lock(mutex);
        stopRequested = true;
        wake.notify_all();
    }
    thread->wait();
    thread.reset();
}

qint64 ClipRecorder::elapsedMs() const
{
    return hasFirst ? (lastCaptureUs - firstCaptureUs) / 1000 : 0;
}

void ClipRecorder::tapFrame(const AVFrame &frame, const Facts &facts)
{
    // Idle, the tap costs one atomic read per frame.
    if (!recording.load(std::memory_order_relaxed))
        return;
    // A split camera's frame is recorded down to its picture: the rows of temperatures below stay out.
    AVFrame view = frame; // a view of the same buffers, not a reference: never unreferenced
    const int rows = pictureRows.load(std::memory_order_relaxed);
    if (rows > 0 && rows < frame.height)
        view.height = rows;
    std::unique_lock lock(mutex);
    if (!recording || stopRequested || frame.hw_frames_ctx || view.width < 2 || view.height < 2)
        return;
    if (count == kQueueFrames) {
        ++dropped;
        return;
    }
    // The slot after the waiting ones: the encoder reads only those, so it is ours to write. The copy is
    // made under the lock all the same: it is short (under a millisecond for 640x512), and the encoder
    // takes the lock only between frames.
    Slot &slot = queue[(head + count) % kQueueFrames];
    AVFrame *copy = slot.frame.get();
    if (!copy->buf[0] || copy->width != view.width || copy->height != view.height ||
        copy->format != view.format) {
        // The first frames of a clip (or of a new picture size) allocate their slot; then it is reused.
        av_frame_unref(copy);
        copy->width = view.width;
        copy->height = view.height;
        copy->format = view.format;
        if (av_frame_get_buffer(copy, 0) < 0) {
            av_frame_unref(copy);
            ++dropped;
            return;
        }
    }
    if (av_frame_copy(copy, &view) < 0) {
        ++dropped;
        return;
    }
    copy->color_range = frame.color_range;
    slot.captureUs = facts.captureUs;
    slot.frameRate = facts.frameRate;
    if (!hasFirst) {
        firstCaptureUs = facts.captureUs;
        hasFirst = true;
    }
    lastCaptureUs = facts.captureUs;
    ++count;
    wake.notify_one();
}

void ClipRecorder::encodeLoop()
{
    int error = 0;
    QString what;
    for (;;) {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] { return count > 0 || stopRequested; });
        if (count == 0)
            break; // asked to stop, and everything queued is encoded
        const Slot &slot = queue[head];
        lock.unlock();
        if (!output && (error = open(slot)) < 0)
            what = QStringLiteral("cannot start the clip ") + fileName;
        const int64_t pts = error >= 0 ? timeFor(slot.captureUs) : AV_NOPTS_VALUE;
        if (error >= 0 && pts == AV_NOPTS_VALUE)
            ++dropped;
        else if (error >= 0 && (error = convert(slot, pts)) < 0)
            what = QStringLiteral("cannot convert the %1 picture for %2")
                       .arg(QLatin1String(formatName(slot.frame->format)), fileName);
        else if (error >= 0 && (error = encode(picture.get())) < 0)
            what = QStringLiteral("cannot write ") + fileName;
        lock.lock();
        head = (head + 1) % kQueueFrames;
        --count;
        if (error < 0)
            break;
    }
    // What the encoder still holds, then the trailer.
    if (error >= 0 && output && (error = encode(nullptr)) < 0)
        what = QStringLiteral("cannot write ") + fileName;
    finish(error, what);
}

int ClipRecorder::open(const Slot &first)
{
    const AVFrame *frame = first.frame.get();
    AVRational rate = first.frameRate;
    if (rate.num <= 0 || rate.den <= 0 || av_q2d(rate) > kMaxFps)
        rate = AVRational{25, 1};
    frameTicks = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), kTimeBase));
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return AVERROR_ENCODER_NOT_FOUND;
    encoder.reset(avcodec_alloc_context3(codec));
    picture.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!encoder || !picture || !packet)
        return AVERROR(ENOMEM);
    // 4:2:0 takes even sizes: an odd last row or column is scaled in.
    encoder->width = frame->width & ~1;
    encoder->height = frame->height & ~1;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = kTimeBase;
    encoder->framerate = rate;
    // A key frame each second of frames: each starts a fragment, so a cut file loses a second at most.
    encoder->gop_size = std::max(1, int(av_q2d(rate) + 0.5));
    // What swscale writes by default: BT.601 coefficients, video range.
    encoder->color_range = AVCOL_RANGE_MPEG;
    encoder->colorspace = AVCOL_SPC_SMPTE170M;
    av_opt_set(encoder->priv_data, "preset", kPreset, 0);
    av_opt_set(encoder->priv_data, "tune", kTune, 0);
    av_opt_set_double(encoder->priv_data, "crf", kCrf, 0);
    // The stream's timing (SPS) says the camera's rate rather than the 90 kHz clock (x264 would write
    // 90000 fps there); the frames keep their own times all the same.
    av_opt_set(encoder->priv_data, "x264-params", "force-cfr=1", 0);

    const QByteArray name = QFile::encodeName(fileName);
    AVFormatContext *raw = nullptr;
    int result = avformat_alloc_output_context2(&raw, nullptr, "mp4", name.constData());
    if (result < 0)
        return result;
    av::OutputContextPtr ctx(raw);
    if (ctx->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((result = avcodec_open2(encoder.get(), codec, nullptr)) < 0)
        return result;
    AVStream *stream = avformat_new_stream(ctx.get(), nullptr);
    if (!stream)
        return AVERROR(ENOMEM);
    if ((result = avcodec_parameters_from_context(stream->codecpar, encoder.get())) < 0)
        return result;
    stream->time_base = kTimeBase;
    stream->avg_frame_rate = rate;
    stream->r_frame_rate = rate;

    picture->width = encoder->width;
    picture->height = encoder->height;
    picture->format = encoder->pix_fmt;
    if ((result = av_frame_get_buffer(picture.get(), 0)) < 0)
        return result;

    if ((result = avio_open(&ctx->pb, name.constData(), AVIO_FLAG_WRITE)) < 0)
        return result;
    // Fragmented as the recorder writes: a fragment at each key frame, that is each second.
    if ((result = writeFragmentedMp4Header(ctx.get())) < 0) {
        // Not even its header is whole: no file is left behind.
        ctx.reset();
        QFile::remove(fileName);
        return result;
    }
    wholeBytes = avio_tell(ctx->pb);
    output = std::move(ctx);
    qCDebug(lcClip) << "clip" << fileName << frame->width << "x" << frame->height << formatName(frame->format)
                    << "at" << rate.num << "/" << rate.den << "fps, libx264" << kPreset << kTune << "crf"
                    << kCrf << "gop" << encoder->gop_size;
    return 0;
}

int ClipRecorder::convert(const Slot &slot, int64_t pts)
{
    const AVFrame *source = slot.frame.get();
    // A scaler per kind of input frame, made again only when the kind changes (a camera plugged back in
    // with another format or size).
    const bool fullRange = source->color_range == AVCOL_RANGE_JPEG;
    if (!scaler || source->width != scalerWidth || source->height != scalerHeight ||
        source->format != scalerFormat || fullRange != scalerFullRange) {
        scaler.reset(sws_getContext(source->width, source->height, AVPixelFormat(source->format),
                                    picture->width, picture->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                    nullptr, nullptr));
        if (!scaler)
            return AVERROR(EINVAL);
        // yuvj formats say full range by their name; a frame may say it by its tag alone.
        if (fullRange) {
            int *inverse = nullptr, *table = nullptr, srcRange = 0, dstRange = 0, brightness = 0,
                contrast = 0, saturation = 0;
            if (sws_getColorspaceDetails(scaler.get(), &inverse, &srcRange, &table, &dstRange, &brightness,
                                         &contrast, &saturation) >= 0)
                sws_setColorspaceDetails(scaler.get(), inverse, 1, table, dstRange, brightness, contrast,
                                         saturation);
        }
        scalerWidth = source->width;
        scalerHeight = source->height;
        scalerFormat = source->format;
        scalerFullRange = fullRange;
    }
    // The encoder may still hold the last picture: then this one gets a buffer of its own.
    int result = av_frame_make_writable(picture.get());
    if (result < 0)
        return result;
    if (sws_scale(scaler.get(), source->data, source->linesize, 0, source->height, picture->data,
                  picture->linesize) <= 0)
        return AVERROR(EINVAL);
    picture->pts = pts;
    return 0;
}

int64_t ClipRecorder::timeFor(int64_t captureUs)
{
    // The capture time from the first frame on, put on the grid of the declared rate: a camera's clock
    // jitters (the virtual camera's by up to half a frame on a loaded machine), and with every time on
    // the grid readers find the declared rate (ffprobe's r_frame_rate is the common step of the times;
    // jittered times gave it 299/12 for 25 fps) and the clip plays evenly. A frame takes the slot nearest
    // its capture time, or the one after the last frame's when that is taken (a frame that came early
    // after a late one), so a gap stays a gap and the clip never runs more than a frame ahead of the
    // capture times. A frame that would have to run further ahead has no slot (a camera faster than it
    // says, a capture time that did not move forward): it is left out, so that the times keep rising.
    const int64_t exact = av_rescale_q(captureUs - firstCaptureUs, kMicroseconds, kTimeBase);
    int64_t pts = av_rescale_rnd(exact, 1, frameTicks, AV_ROUND_NEAR_INF) * frameTicks;
    if (lastPts != AV_NOPTS_VALUE && pts <= lastPts)
        pts = lastPts + frameTicks;
    if (pts - exact > frameTicks)
        return AV_NOPTS_VALUE;
    lastPts = pts;
    return pts;
}

int ClipRecorder::encode(AVFrame *frame)
{
    int result = avcodec_send_frame(encoder.get(), frame);
    while (result >= 0) {
        result = avcodec_receive_packet(encoder.get(), packet.get());
        if (result >= 0)
            result = writePacket();
    }
    return result == AVERROR(EAGAIN) || result == AVERROR_EOF ? 0 : result;
}

int ClipRecorder::writePacket()
{
    AVStream *stream = output->streams[0];
    // The muxer ends each fragment's last frame by its duration: one frame at the declared rate.
    packet->duration = frameTicks;
    packet->stream_index = 0;
    av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
    const int64_t pts = packet->pts;
    const int64_t end = pts + packet->duration;
    int result = av_interleaved_write_frame(output.get(), packet.get());
    // Each packet is flushed as it is written: a failed write shows in the I/O context.
    if (result >= 0)
        result = output->pb->error;
    if (result < 0)
        return result;
    // A key frame sends the fragment before it to the file: every frame before this one is on the disk.
    const int64_t at = avio_tell(output->pb);
    if (at > wholeBytes) {
        wholeBytes = at;
        wholeFrames = packetsWritten;
        wholeEndPts = pts;
    }
    ++packetsWritten;
    writtenEndPts = end;
    return 0;
}

void ClipRecorder::finish(int error, const QString &what)
{
    QString reason = error < 0 ? reasonLine(error, what) : QString();
    bool made = false;
    if (output) {
        made = true;
        // The trailer is tried after a failure too (it frees the muxer's state; its writes are refused
        // once the I/O context has failed).
        int result = av_write_trailer(output.get());
        if (result >= 0)
            result = output->pb->error;
        const int closed = avio_closep(&output->pb);
        if (result >= 0)
            result = closed;
        if (error >= 0 && result < 0) {
            error = result;
            reason = reasonLine(error, QStringLiteral("cannot finish ") + fileName);
        }
        if (error >= 0) {
            wholeFrames = packetsWritten;
            wholeEndPts = writtenEndPts;
        } else {
            // A write that failed half-way left part of a fragment behind: the file ends where its last
            // whole fragment does, so that it reads cleanly to its end.
            QFile::resize(fileName, wholeBytes);
        }
    } else if (error >= 0) {
        error = AVERROR(ENODATA);
        reason = QStringLiteral("no picture came while recording %1: nothing was written").arg(fileName);
    }
    const qint64 durationMs =
        output ? av_rescale_q(wholeEndPts, output->streams[0]->time_base, {1, 1000}) : 0;
    output.reset();
    encoder.reset();
    scaler.reset();
    picture.reset();
    packet.reset();
    {
        // The copies go too: an idle recorder holds no picture memory.
        std::unique_lock lock(mutex);
        recording = false;
        for (Slot &slot : queue)
            av_frame_unref(slot.frame.get());
    }
    if (dropped > 0)
        qCDebug(lcClip) << "clip" << fileName << ":" << dropped.load()
                        << "frames left out (the queue was full, or no slot on the time line)";
    if (error < 0) {
        qCWarning(lcClip) << "clip stopped:" << reason;
        emit failed(error, reason);
    }
    if (made) {
        qCDebug(lcClip) << "clip finished:" << fileName << wholeFrames << "frames," << durationMs << "ms";
        emit finished(fileName, wholeFrames, durationMs);
    }
}
