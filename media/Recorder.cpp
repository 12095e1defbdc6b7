#include "media/Recorder.h"

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
        if (video) {
            videoParameters.reset(avcodec_parameters_alloc());
            avcodec_parameters_copy(videoParameters.get(), video->codecpar);
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
                avcodec_parameters_copy(annexb->par_in, video->codecpar);
                annexb->time_base_in = video->time_base;
                if (av_bsf_init(annexb.get()) < 0)
                    annexb.reset();
            }
        }
        if (audio && taken.playAudio) {
            audioParameters.reset(avcodec_parameters_alloc());
            avcodec_parameters_copy(audioParameters.get(), audio->codecpar);
            adtsUsable = AdtsHeader::configFor(audio->codecpar, adts);
            if (!adtsUsable && taken.saveFile && !taken.saveMp4)
                qCDebug(lcMedia) << TIMEMS << settings.fileFlag << "audio is not AAC, recording video alone"
                                 << avcodec_get_name(audio->codecpar->codec_id);
        }
    }
    emitClosed(closed);
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
        opened = openMp4Locked(fileName);
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
        opened = openRawLocked(fileName);
    }
    emitClosed(closed);
    return opened;
}

void Recorder::switchSlice()
{
    QStringList closed;
    {
        QMutexLocker locker(&mutex);
        if (!attached || !settings.saveFile)
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
        openMp4Locked(settings.fileName);
    else
        openRawLocked(settings.fileName);
}

bool Recorder::openMp4Locked(const QString &fileName)
{
    if (!attached)
        return false;
    AVFormatContext *raw = nullptr;
    const QByteArray name = fileName.toUtf8();
    if (avformat_alloc_output_context2(&raw, nullptr, "mp4", name.constData()) < 0)
        return false;
    av::OutputContextPtr ctx(raw);
    AVStream *out = avformat_new_stream(ctx.get(), nullptr);
    if (!out)
        return false;
    qCDebug(lcMedia) << TIMEMS << settings.fileFlag << "保存视频" << fileName;
    qCDebug(lcMedia) << TIMEMS << settings.fileFlag << "编码参数" << settings.videoFps << videoTimeBase.num
                     << videoTimeBase.den << settings.codecTimeBase.num << settings.codecTimeBase.den;
    if (videoTimeBase.num == 0)
        return false;
    // Stream copy: the input's parameters whole, extradata (SPS/PPS) included.
    avcodec_parameters_copy(out->codecpar, videoParameters.get());
    out->codecpar->codec_tag = 0;
    out->time_base = videoTimeBase;
    if (avio_open(&ctx->pb, name.constData(), AVIO_FLAG_WRITE) < 0)
        return false;
    // Fragmented: the index goes up front and each fragment reaches the disk as it is made.
    av::DictionaryPtr options;
    av_dict_set(av::out(options), "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    av_dict_set(av::out(options), "frag_duration", "500000", 0);
    ctx->flush_packets = 1;
    ctx->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    if (avformat_write_header(ctx.get(), av::out(options)) < 0)
        return false;
    outputTimeBase = out->time_base;
    outputCtx = std::move(ctx);
    mp4Name = fileName;
    started = false;
    untimedKeys = 0;
    saveFrameIndex = 0;
    return true;
}

bool Recorder::openRawLocked(const QString &fileName)
{
    if (!attached)
        return false;
    videoFile.setFileName(fileName);
    if (!videoFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qCDebug(lcMedia) << TIMEMS << settings.fileFlag << "cannot write" << fileName;
        return false;
    }
    if (audioParameters && adtsUsable) {
        audioFile.setFileName(aacFileName(fileName));
        if (!audioFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qCDebug(lcMedia) << TIMEMS << settings.fileFlag << "cannot write" << audioFile.fileName();
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
    av_write_trailer(outputCtx.get());
    outputCtx.reset();
    closed << mp4Name;
    saveFrameIndex = 0;
    started = false;
}

void Recorder::closeRawLocked(QStringList &closed)
{
    if (!videoFile.isOpen())
        return;
    for (QFile *file : {&videoFile, &audioFile}) {
        if (file->isOpen()) {
            file->close();
            closed << file->fileName();
        }
    }
    if (annexb)
        av_bsf_flush(annexb.get());
    started = false;
}

void Recorder::emitClosed(const QStringList &closed)
{
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
            writeMp4(packet);
        else if (videoFile.isOpen())
            writeRaw(packet);
    }
    emitClosed(closed);
}

void Recorder::writeMp4(const AVPacket *packet)
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
    av_write_frame(outputCtx.get(), out);
    out->data = nullptr;
    out->size = 0;
}

void Recorder::writeRaw(const AVPacket *packet)
{
    if (!startAtKey(packet))
        return;
    // Parameter sets carried only out of band (an RTSP description) lead the file.
    if (saveFrameIndex++ == 0 && annexbExtradata(videoParameters.get()))
        writeRawPayload(videoParameters->extradata, videoParameters->extradata_size);
    if (!annexb || av_packet_ref(filtered.get(), packet) < 0) {
        writeRawPayload(packet->data, packet->size);
        return;
    }
    if (av_bsf_send_packet(annexb.get(), filtered.get()) < 0) {
        av_packet_unref(filtered.get());
        writeRawPayload(packet->data, packet->size);
        return;
    }
    while (av_bsf_receive_packet(annexb.get(), filtered.get()) >= 0) {
        writeRawPayload(filtered->data, filtered->size);
        av_packet_unref(filtered.get());
    }
}

void Recorder::writeRawPayload(const uint8_t *data, int size)
{
    videoFile.write(reinterpret_cast<const char *>(data), size);
}

void Recorder::writeAudio(const AVPacket *packet)
{
    QMutexLocker locker(&mutex);
    // Audio follows the video of the file, so both start together.
    if (!audioFile.isOpen() || !started || packet->size <= 0)
        return;
    const bool hasHeader = packet->size >= 2 && packet->data[0] == 0xFF && (packet->data[1] & 0xF0) == 0xF0;
    if (!hasHeader) {
        const std::array<uint8_t, 7> header = AdtsHeader::header(adts, packet->size);
        audioFile.write(reinterpret_cast<const char *>(header.data()), int(header.size()));
    }
    audioFile.write(reinterpret_cast<const char *>(packet->data), packet->size);
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
