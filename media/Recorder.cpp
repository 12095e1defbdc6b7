#include "media/Recorder.h"

#include "media/FragmentedMp4.h"

#include "media/LogTime.h"
#include "media/MediaLog.h"
#include "media/PlaybackInput.h"
#include "media/PlayerSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

namespace {
// A file starts at a key frame that has a timestamp; after this many key frames without one it starts
// anyway and times its packets by their index.
constexpr int kUntimedKeysBeforeStart = 2;

bool annexbExtradata(const AVCodecParameters *parameters)
{
    const uint8_t *data = parameters->extradata;
    const int size = parameters->extradata_size;
    return size >= 4 && data[0] == 0 && data[1] == 0 && (data[2] == 1 || (data[2] == 0 && data[3] == 1));
}

// A failure as one line: what failed, and FFmpeg's text of the error.
QString failureLine(const QString &what, int error)
{
    return QStringLiteral("%1: %2").arg(what, media::errorText(error));
}

} // namespace

QDateTime Recorder::noSaveTime()
{
    return QDateTime::fromString(QStringLiteral("1970-01-01 00:00:00"),
                                 QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

Recorder::Recorder(QObject *parent)
    : QObject(parent), filtered(av_packet_alloc()), outPacket(av_packet_alloc())
{}

Recorder::~Recorder()
{
    // Nobody is told any more: the owner is going away.
    QStringList closed;
    QMutexLocker locker(&mutex);
    closeLocked(closed);
}

void Recorder::attach(const PlaybackInput &input, const PlayerSettings &active)
{
    Settings taken{active.saveFile,  active.saveMp4,  active.saveInterval, active.savePath,
                   active.fileFlag,  active.fileName, active.url,          active.saveTime,
                   active.playAudio, active.videoFps, AVRational{0, 1}};
    if (const AVCodecContext *codec = input.video.codecContext())
        taken.codecTimeBase = codec->time_base;
    const AVFormatContext *format = input.session.context();
    attach(input.videoIndex >= 0 ? format->streams[input.videoIndex] : nullptr,
           input.audioIndex >= 0 ? format->streams[input.audioIndex] : nullptr, taken);
}

void Recorder::attach(const AVStream *video, const AVStream *audio, const Settings &taken)
{
    QStringList closed;
    {
        QMutexLocker locker(&mutex);
        closeLocked(closed);
        settings = taken;
        attached = video != nullptr;
        videoParameters.reset();
        audioParameters.reset();
        annexb.reset();
        adtsUsable = false;
        failed = false;
        skippedAudio = 0;
        if (video) {
            copyParametersLocked(video, videoParameters, "video", closed);
            videoTimeBase = video->time_base;
            frameRate = AVRational{25, 1};
            if (taken.videoFps > 0)
                frameRate = av_d2q(taken.videoFps, 100000);
            else if (video->avg_frame_rate.num > 0 && video->avg_frame_rate.den > 0)
                frameRate = video->avg_frame_rate;
            const char *filterName = video->codecpar->codec_id == AV_CODEC_ID_H264   ? "h264_mp4toannexb"
                                     : video->codecpar->codec_id == AV_CODEC_ID_HEVC ? "hevc_mp4toannexb"
                                                                                     : nullptr;
            const AVBitStreamFilter *filter = filterName ? av_bsf_get_by_name(filterName) : nullptr;
            if (filter && av_bsf_alloc(filter, av::out(annexb)) >= 0) {
                annexb->time_base_in = video->time_base;
                if (avcodec_parameters_copy(annexb->par_in, video->codecpar) < 0 ||
                    av_bsf_init(annexb.get()) < 0)
                    annexb.reset();
            }
        }
        if (audio && taken.playAudio) {
            copyParametersLocked(audio, audioParameters, "audio", closed);
            adtsUsable = AdtsHeader::configFor(audio->codecpar, adts);
            if (!adtsUsable && taken.saveFile && !taken.saveMp4)
                qCDebug(lcMedia) << TIMEMS << settings.fileFlag << "audio is not AAC, recording video alone"
                                 << avcodec_get_name(audio->codecpar->codec_id);
        }
    }
    emitClosed(closed);
}

void Recorder::copyParametersLocked(const AVStream *stream, av::CodecParametersPtr &parameters,
                                    const char *kind, QStringList &closed)
{
    parameters.reset(avcodec_parameters_alloc());
    const int copied =
        parameters ? avcodec_parameters_copy(parameters.get(), stream->codecpar) : AVERROR(ENOMEM);
    if (copied >= 0)
        return;
    parameters.reset();
    if (settings.saveFile)
        failLocked(
            closed, copied,
            failureLine(QStringLiteral("cannot copy the %1 stream's parameters").arg(QLatin1String(kind)),
                        copied));
}

void Recorder::detach()
{
    QStringList closed;
    {
        QMutexLocker locker(&mutex);
        closeLocked(closed);
        attached = false;
        annexb.reset();
        videoParameters.reset();
        audioParameters.reset();
        adtsUsable = false;
    }
    emitClosed(closed);
}

bool Recorder::enabled() const
{
    QMutexLocker locker(&mutex);
    return attached && settings.saveFile;
}

bool Recorder::saveMp4() const
{
    QMutexLocker locker(&mutex);
    return settings.saveMp4;
}

int Recorder::saveInterval() const
{
    QMutexLocker locker(&mutex);
    return settings.saveInterval;
}

QString Recorder::fileName() const
{
    QMutexLocker locker(&mutex);
    return settings.fileName;
}

bool Recorder::isOpen() const
{
    QMutexLocker locker(&mutex);
    return outputCtx || videoFile.isOpen();
}

qint64 Recorder::skippedAudioPackets() const
{
    QMutexLocker locker(&mutex);
    return skippedAudio;
}

QString Recorder::nextFileName()
{
    QMutexLocker locker(&mutex);
    return nextFileNameLocked();
}

QString Recorder::nextFileNameLocked()
{
    QString name = makeFileName(settings.savePath, settings.fileFlag, QDateTime::currentDateTime());
    // A second slice within the same second must not overwrite the first.
    const QString stem = name.chopped(4);
    for (int i = 1; QFileInfo::exists(name) || name == settings.fileName; ++i)
        name = QStringLiteral("%1_%2.mp4").arg(stem).arg(i);
    settings.fileName = name;
    return name;
}

QString Recorder::makeFileName(const QString &savePath, const QString &fileFlag, const QDateTime &now)
{
    // The file goes where ensureDir made the day's directory, whatever the working directory is.
    const QString dir =
        ensureDir(QStringLiteral("%1/%2").arg(savePath, now.toString(QStringLiteral("yyyy-MM-dd"))));
    return QStringLiteral("%1/%2_%3.mp4")
        .arg(dir, fileFlag, now.toString(QStringLiteral("yyyy-MM-dd-HH-mm-ss")));
}

QString Recorder::ensureDir(const QString &path)
{
    QString dir = path;
    if (!dir.startsWith(QLatin1Char('/')) && !dir.contains(QLatin1String(":/")))
        dir = QStringLiteral("%1/%2").arg(QCoreApplication::applicationDirPath(), dir);
    if (!QDir(dir).exists())
        QDir().mkpath(dir);
    return dir;
}

QString Recorder::aacFileName(const QString &videoFileName)
{
    const QFileInfo info(videoFileName);
    const QString suffix = info.suffix();
    if (suffix.isEmpty())
        return videoFileName + QStringLiteral(".aac");
    return videoFileName.left(videoFileName.size() - suffix.size()) + QStringLiteral("aac");
}

bool Recorder::openMp4(const QString &fileName)
{
    QStringList closed;
    bool opened = false;
    {
        QMutexLocker locker(&mutex);
        closeLocked(closed);
        opened = openMp4Locked(closed, fileName);
    }
    emitClosed(closed);
    return opened;
}

bool Recorder::openRaw(const QString &fileName)
{
    QStringList closed;
    bool opened = false;
    {
        QMutexLocker locker(&mutex);
        closeLocked(closed);
        opened = openRawLocked(closed, fileName);
    }
    emitClosed(closed);
    return opened;
}

void Recorder::switchSlice()
{
    QStringList closed;
    {
        QMutexLocker locker(&mutex);
        if (!attached || !settings.saveFile || failed)
            return;
        nextFileNameLocked();
        // A file that is being written ends at the next key frame, where the new one starts, so that no
        // packet falls between the two.
        if ((outputCtx || videoFile.isOpen()) && started) {
            switchPending = true;
            return;
        }
        openNextLocked(closed);
    }
    emitClosed(closed);
}

void Recorder::openNextLocked(QStringList &closed)
{
    switchPending = false;
    closeLocked(closed);
    if (settings.saveMp4)
        openMp4Locked(closed, settings.fileName);
    else
        openRawLocked(closed, settings.fileName);
}

bool Recorder::openMp4Locked(QStringList &closed, const QString &fileName)
{
    if (!attached || failed)
        return false;
    const auto fail = [&](int error, const QString &what) {
        failLocked(closed, error, failureLine(what + QLatin1Char(' ') + fileName, error));
        return false;
    };
    if (!videoParameters || videoTimeBase.num == 0)
        return fail(AVERROR(EINVAL), QStringLiteral("no video stream to record into"));
    AVFormatContext *raw = nullptr;
    const QByteArray name = fileName.toUtf8();
    int result = avformat_alloc_output_context2(&raw, nullptr, "mp4", name.constData());
    if (result < 0)
        return fail(result, QStringLiteral("cannot make the MP4 muxer for"));
    av::OutputContextPtr ctx(raw);
    AVStream *out = avformat_new_stream(ctx.get(), nullptr);
    if (!out)
        return fail(AVERROR(ENOMEM), QStringLiteral("cannot make the video stream of"));
    qCDebug(lcMedia) << TIMEMS << settings.fileFlag << "保存视频" << fileName;
    qCDebug(lcMedia) << TIMEMS << settings.fileFlag << "编码参数" << settings.videoFps << videoTimeBase.num
                     << videoTimeBase.den << settings.codecTimeBase.num << settings.codecTimeBase.den;
    // Stream copy: the input's parameters whole, extradata (SPS/PPS) included.
    if ((result = avcodec_parameters_copy(out->codecpar, videoParameters.get())) < 0)
        return fail(result, QStringLiteral("cannot copy the video parameters into"));
    out->codecpar->codec_tag = 0;
    out->time_base = videoTimeBase;
    if ((result = avio_open(&ctx->pb, name.constData(), AVIO_FLAG_WRITE)) < 0)
        return fail(result, QStringLiteral("cannot write"));
    // Fragmented: a fragment at each key frame and at least each half second.
    if ((result = writeFragmentedMp4Header(ctx.get(), 500000)) < 0) {
        // What was made is on the disk: it is closed and named like any other file.
        ctx.reset();
        closed << fileName;
        return fail(result, QStringLiteral("cannot write"));
    }
    outputTimeBase = out->time_base;
    mp4Whole = avio_tell(ctx->pb);
    outputCtx = std::move(ctx);
    mp4Name = fileName;
    started = false;
    untimedKeys = 0;
    saveFrameIndex = 0;
    return true;
}

bool Recorder::openRawLocked(QStringList &closed, const QString &fileName)
{
    if (!attached || failed)
        return false;
    // Unbuffered: each packet reaches the system as it is written, and so does its failure.
    videoFile.setFileName(fileName);
    if (!videoFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        failFileLocked(closed, fileName, videoFile.error(), videoFile.errorString());
        return false;
    }
    if (audioParameters && adtsUsable) {
        audioFile.setFileName(aacFileName(fileName));
        if (!audioFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            failFileLocked(closed, audioFile.fileName(), audioFile.error(), audioFile.errorString());
            return false;
        }
    }
    started = false;
    untimedKeys = 0;
    saveFrameIndex = 0;
    return true;
}

void Recorder::close()
{
    QStringList closed;
    {
        QMutexLocker locker(&mutex);
        closeLocked(closed);
    }
    emitClosed(closed);
}

void Recorder::closeMp4()
{
    QStringList closed;
    {
        QMutexLocker locker(&mutex);
        closeMp4Locked(closed);
    }
    emitClosed(closed);
}

void Recorder::closeRaw()
{
    QStringList closed;
    {
        QMutexLocker locker(&mutex);
        closeRawLocked(closed);
    }
    emitClosed(closed);
}

void Recorder::closeLocked(QStringList &closed)
{
    switchPending = false;
    closeMp4Locked(closed);
    closeRawLocked(closed);
}

void Recorder::closeMp4Locked(QStringList &closed)
{
    if (!outputCtx)
        return;
    // The trailer is tried after a failed write too: the muxer may still get its last fragment out.
    int result = av_write_trailer(outputCtx.get());
    const int closeResult = avio_closep(&outputCtx->pb);
    if (result >= 0)
        result = closeResult;
    outputCtx.reset();
    // A write that failed half-way left part of a fragment behind: the file ends where its last whole
    // write did, so that it reads cleanly to its end.
    if (result < 0 || failed)
        QFile::resize(mp4Name, mp4Whole);
    closed << mp4Name;
    saveFrameIndex = 0;
    started = false;
    if (result < 0)
        failLocked(closed, result, failureLine(QStringLiteral("cannot finish ") + mp4Name, result));
}

void Recorder::closeRawLocked(QStringList &closed)
{
    if (!videoFile.isOpen() && !audioFile.isOpen())
        return;
    QString unflushed;
    QFileDevice::FileError kind = QFileDevice::NoError;
    QString text;
    for (QFile *file : {&videoFile, &audioFile}) {
        if (file->isOpen()) {
            if (!file->flush() && unflushed.isEmpty()) {
                unflushed = file->fileName();
                kind = file->error();
                text = file->errorString();
            }
            file->close();
            closed << file->fileName();
        }
    }
    if (annexb)
        av_bsf_flush(annexb.get());
    started = false;
    if (!unflushed.isEmpty())
        failFileLocked(closed, unflushed, kind, text);
}

void Recorder::failLocked(QStringList &closed, int error, const QString &reason)
{
    if (failed)
        return;
    failed = true;
    failureError = error;
    failureReason = reason;
    failureReported = false;
    qCDebug(lcMedia) << TIMEMS << settings.fileFlag << "recording stopped:" << reason;
    closeLocked(closed);
}

void Recorder::failFileLocked(QStringList &closed, const QString &fileName, QFileDevice::FileError kind,
                              const QString &text)
{
    // QFile tells a full disk from other failures by its error kind only; its text is the system's.
    failLocked(closed, kind == QFileDevice::ResourceError ? AVERROR(ENOSPC) : AVERROR(EIO),
               QStringLiteral("cannot write %1: %2").arg(fileName, text));
}

bool Recorder::writeFileLocked(QStringList &closed, QFile &file, const char *data, qint64 size,
                               qint64 wholeTo)
{
    if (wholeTo < 0)
        wholeTo = file.pos();
    // A write the system took only in part is tried again for the rest: the second one says why.
    while (size > 0) {
        const qint64 written = file.write(data, size);
        if (written <= 0) {
            // The file ends with its last whole frame, not a piece of this one.
            const QFileDevice::FileError kind = file.error();
            const QString text = file.errorString();
            file.resize(wholeTo);
            failFileLocked(closed, file.fileName(), kind, text);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

void Recorder::emitClosed(const QStringList &closed)
{
    int error = 0;
    QString reason;
    {
        QMutexLocker locker(&mutex);
        if (!failureReported && !failureReason.isEmpty()) {
            failureReported = true;
            error = failureError;
            reason = failureReason;
        }
    }
    if (!reason.isEmpty())
        emit recordFailed(error, reason);
    for (const QString &path : closed)
        emit fileClosed(path);
}

bool Recorder::startAtKey(const AVPacket *packet)
{
    if (started)
        return true;
    if (!(packet->flags & AV_PKT_FLAG_KEY))
        return false;
    if (packet->dts == AV_NOPTS_VALUE && packet->pts == AV_NOPTS_VALUE &&
        ++untimedKeys < kUntimedKeysBeforeStart)
        return false;
    started = true;
    baseDts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    lastDts = AV_NOPTS_VALUE;
    return true;
}

void Recorder::writeVideo(const AVPacket *packet)
{
    QStringList closed;
    {
        QMutexLocker locker(&mutex);
        if (switchPending && (packet->flags & AV_PKT_FLAG_KEY))
            openNextLocked(closed);
        if (outputCtx)
            writeMp4(closed, packet);
        else if (videoFile.isOpen())
            writeRaw(closed, packet);
    }
    emitClosed(closed);
}

void Recorder::writeMp4(QStringList &closed, const AVPacket *packet)
{
    if (!startAtKey(packet))
        return;
    AVPacket *out = outPacket.get();
    const qint64 index = saveFrameIndex++;
    qint64 dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    qint64 pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (dts == AV_NOPTS_VALUE || baseDts == AV_NOPTS_VALUE) {
        // No timestamp at all: the packet's place in the file at the frame rate.
        dts = pts = av_rescale_q(index, av_inv_q(frameRate), outputTimeBase);
    } else {
        dts = av_rescale_q(dts - baseDts, videoTimeBase, outputTimeBase);
        pts = av_rescale_q(pts - baseDts, videoTimeBase, outputTimeBase);
    }
    // The muxer refuses a decoding time that does not move forward.
    if (lastDts != AV_NOPTS_VALUE && dts <= lastDts)
        dts = lastDts + 1;
    if (pts < dts)
        pts = dts;
    lastDts = dts;
    out->data = packet->data;
    out->size = packet->size;
    out->flags = packet->flags;
    out->pts = pts;
    out->dts = dts;
    out->duration = packet->duration > 0 ? av_rescale_q(packet->duration, videoTimeBase, outputTimeBase) : 0;
    out->stream_index = 0;
    int result = av_write_frame(outputCtx.get(), out);
    out->data = nullptr;
    out->size = 0;
    // The packet is flushed to the file as it is written: a failed flush shows in the I/O context.
    if (result >= 0)
        result = outputCtx->pb->error;
    if (result < 0)
        failLocked(closed, result, failureLine(QStringLiteral("cannot write ") + mp4Name, result));
    else
        mp4Whole = avio_tell(outputCtx->pb);
}

void Recorder::writeRaw(QStringList &closed, const AVPacket *packet)
{
    if (!startAtKey(packet))
        return;
    // Parameter sets carried only out of band (an RTSP description) lead the file.
    if (saveFrameIndex++ == 0 && annexbExtradata(videoParameters.get()) &&
        !writeRawPayload(closed, videoParameters->extradata, videoParameters->extradata_size))
        return;
    if (!annexb || av_packet_ref(filtered.get(), packet) < 0) {
        writeRawPayload(closed, packet->data, packet->size);
        return;
    }
    if (av_bsf_send_packet(annexb.get(), filtered.get()) < 0) {
        av_packet_unref(filtered.get());
        writeRawPayload(closed, packet->data, packet->size);
        return;
    }
    while (av_bsf_receive_packet(annexb.get(), filtered.get()) >= 0) {
        // After a failure the filter is drained without writing.
        if (videoFile.isOpen())
            writeRawPayload(closed, filtered->data, filtered->size);
        av_packet_unref(filtered.get());
    }
}

bool Recorder::writeRawPayload(QStringList &closed, const uint8_t *data, int size)
{
    return writeFileLocked(closed, videoFile, reinterpret_cast<const char *>(data), size);
}

void Recorder::writeAudio(const AVPacket *packet)
{
    QStringList closed;
    {
        QMutexLocker locker(&mutex);
        // Audio follows the video of the file, so both start together.
        if (!audioFile.isOpen() || !started || packet->size <= 0)
            return;
        const bool hasHeader =
            packet->size >= 2 && packet->data[0] == 0xFF && (packet->data[1] & 0xF0) == 0xF0;
        const std::optional<std::array<uint8_t, 7>> header =
            hasHeader ? std::nullopt : AdtsHeader::header(adts, packet->size);
        if (!hasHeader && !header) {
            // A frame the header cannot describe would make the rest of the file unreadable.
            if (skippedAudio++ == 0)
                qCDebug(lcMedia) << TIMEMS << settings.fileFlag << "audio frames too long for ADTS left out,"
                                 << packet->size << "bytes, in" << audioFile.fileName();
        } else {
            const qint64 whole = audioFile.pos();
            if (!header || writeFileLocked(closed, audioFile, reinterpret_cast<const char *>(header->data()),
                                           qint64(header->size())))
                writeFileLocked(closed, audioFile, reinterpret_cast<const char *>(packet->data), packet->size,
                                whole);
        }
    }
    emitClosed(closed);
}

bool Recorder::takeScheduledStop()
{
    QMutexLocker locker(&mutex);
    if (!attached || !settings.saveFile || settings.saveInterval != 0 ||
        settings.saveTime.date().year() == 1970 ||
        !stopDue(settings.saveTime, settings.saveInterval, QDateTime::currentDateTime()))
        return false;
    settings.saveTime = noSaveTime();
    return true;
}

bool Recorder::stopDue(const QDateTime &saveTime, int saveInterval, const QDateTime &now)
{
    return saveInterval == 0 && saveTime.isValid() && saveTime.date().year() != 1970 &&
           now.secsTo(saveTime) < 0;
}
