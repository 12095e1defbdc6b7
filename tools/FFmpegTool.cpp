#include "FFmpegTool.h"

#include "media/AvPointers.h"
#include "media/LogTime.h"
#include "media/MediaLog.h"
#include "PacketClock.h"

#include <QFile>
#include <QLoggingCategory>
#include <QTextCodec>
#include <QTextDecoder>

Q_LOGGING_CATEGORY(lcTool, "tarn.tool")

namespace {
// Every merge line: the time of day, then the message.
void logLine(const char *message)
{
    qCDebug(lcTool) << TIMEMS << message;
}

std::unique_ptr<QTextDecoder> utf8Decoder()
{
    return std::unique_ptr<QTextDecoder>(QTextCodec::codecForName("UTF-8")->makeDecoder());
}

AVStream *firstStream(AVFormatContext *input, AVMediaType type)
{
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (input->streams[i]->codecpar->codec_type == type)
            return input->streams[i];
    }
    return nullptr;
}

// A bitstream filter for the packets of stream; null when it cannot be set up.
av::BsfContextPtr makeFilter(const char *name, const AVStream *stream)
{
    av::BsfContextPtr filter;
    const AVBitStreamFilter *kind = av_bsf_get_by_name(name);
    if (!kind || av_bsf_alloc(kind, av::out(filter)) < 0)
        return nullptr;
    if (avcodec_parameters_copy(filter->par_in, stream->codecpar) < 0)
        return nullptr;
    filter->time_base_in = stream->time_base;
    if (av_bsf_init(filter.get()) < 0)
        return nullptr;
    return filter;
}

// One input of the merge and the output stream its packets go to.
struct Side
{
    AVFormatContext *input = nullptr;
    AVStream *in = nullptr;
    AVStream *out = nullptr;
    av::BsfContextPtr filter;
    PacketClock clock;
    int64_t last = 0;
};

// Reads the next packet of side's stream, reading past the input's other streams.
bool readPacket(Side &side, AVPacket *packet)
{
    while (av_read_frame(side.input, packet) >= 0) {
        if (packet->stream_index == side.in->index)
            return true;
        av_packet_unref(packet);
    }
    return false;
}
} // namespace

FFmpegTool::FFmpegTool(QObject *parent) : QObject(parent), process(this), decoder(utf8Decoder())
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&process, &QProcess::readyReadStandardOutput, this, &FFmpegTool::readData);
    connect(&process, &QProcess::started, this, &FFmpegTool::started);
    connect(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, [this] {
        if (process.bytesAvailable() > 0)
            readData();
        emit finished();
    });
    connect(&process, &QProcess::errorOccurred, this, &FFmpegTool::onProcessError);
}

FFmpegTool::~FFmpegTool()
{
    process.disconnect(this);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
}

int FFmpegTool::exitCode() const
{
    if (process.state() != QProcess::NotRunning || process.error() == QProcess::FailedToStart ||
        process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

void FFmpegTool::onProcessError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart)
        return;
    emit processFailed(tr("cannot run %1: %2").arg(process.program(), process.errorString()));
    emit finished();
}

void FFmpegTool::readData()
{
    emit receiveData(decoder->toUnicode(process.readAllStandardOutput()));
}

void FFmpegTool::start(QString command)
{
    QStringList arguments = QProcess::splitCommand(command);
    const QString program = arguments.isEmpty() ? QString() : arguments.takeFirst();
    start(program, arguments);
}

void FFmpegTool::start(QString program, QStringList arguments)
{
    decoder = utf8Decoder();
    process.start(program, arguments, QIODevice::ReadWrite);
}

void FFmpegTool::getMediaInfo(QString mediaFile, bool json)
{
    QStringList arguments{"-hide_banner", "-v", "error"};
    if (json)
        arguments << "-print_format"
                  << "json";
    start(QStringLiteral("ffprobe"), arguments << "-show_format"
                                               << "-show_streams" << mediaFile);
}

void FFmpegTool::h264ToMp4ByCmd(QString h264File, QString aacFile, QString mp4File)
{
    QStringList arguments{"-hide_banner", "-nostdin", "-v", "error", "-y", "-i", h264File};
    const bool audio = QFile::exists(aacFile);
    if (audio)
        arguments << "-i" << aacFile;
    arguments << "-map"
              << "0:v:0";
    if (audio)
        arguments << "-map"
                  << "1:a:0";
    start(QStringLiteral("ffmpeg"), arguments << "-c"
                                              << "copy" << mp4File);
}

void FFmpegTool::h264ToMp4ByCode(QString h264File, QString aacFile, QString mp4File)
{
    QString failure;
    const bool ok = merge(h264File, aacFile, mp4File, failure);
    emit mergeFinished(ok, failure);
}

bool FFmpegTool::merge(const QString &h264File, const QString &aacFile, const QString &mp4File,
                       QString &failure)
{
    counts = MergeCounts();
    if (!QFile::exists(h264File) || mp4File.isEmpty())
        return false;
    const QByteArray h264Path = h264File.toUtf8();
    const QByteArray aacPath = aacFile.toUtf8();
    const QByteArray mp4Path = mp4File.toUtf8();
    const auto fail = [&failure](const char *message) {
        failure = QString::fromUtf8(message);
        logLine(message);
        logLine("error");
        return false;
    };

    // Released in reverse order on every way out: the output (file closed, context freed), then inputs.
    av::InputContextPtr videoInput;
    if (avformat_open_input(av::out(videoInput), h264Path.constData(), nullptr, nullptr) < 0)
        return fail("avformat_open_input h264 error");
    if (avformat_find_stream_info(videoInput.get(), nullptr) < 0)
        return fail("avformat_find_stream_info h264 error");

    av::InputContextPtr audioInput;
    if (QFile::exists(aacFile)) {
        if (avformat_open_input(av::out(audioInput), aacPath.constData(), nullptr, nullptr) < 0)
            return fail("avformat_open_input aac error");
        if (avformat_find_stream_info(audioInput.get(), nullptr) < 0)
            return fail("avformat_find_stream_info aac error");
    }

    av::OutputContextPtr output;
    if (avformat_alloc_output_context2(av::out(output), nullptr, nullptr, mp4Path.constData()) < 0)
        return fail("avformat_alloc_output_context2 mp4 error");

    // The streams: the first video stream of the video input and the first audio stream of the audio
    // input, copied as they are. (The global-header flag belongs to encoders; a stream copy carries its
    // headers in the copied codec parameters.)
    const auto addStream = [&output](Side &side) {
        side.out = avformat_new_stream(output.get(), nullptr);
        return side.out != nullptr;
    };
    const auto copyParameters = [](Side &side) {
        if (avcodec_parameters_copy(side.out->codecpar, side.in->codecpar) < 0)
            return false;
        side.out->codecpar->codec_tag = 0;
        return true;
    };
    Side video;
    video.input = videoInput.get();
    video.in = firstStream(videoInput.get(), AVMEDIA_TYPE_VIDEO);
    if (!video.in)
        return fail("no video stream h264 error");
    const AVRational declared = video.in->r_frame_rate;
    if (av_cmp_q(PacketClock::usableRate(video.in), declared) != 0) {
        counts.note =
            QStringLiteral("the H.264 stream declares %1/%2 frames a second, above the %3 any camera "
                           "or encoder makes; timed at %4 frames a second as a stream without a rate")
                .arg(declared.num)
                .arg(declared.den)
                .arg(PacketClock::kMaxFrameRate)
                .arg(av_q2d(PacketClock::kFallbackRate));
    }
    if (!addStream(video))
        return fail("avformat_new_stream h264 error");
    if (!copyParameters(video))
        return fail("avcodec_copy_context h264 error");

    Side audio;
    if (!aacFile.isEmpty() && audioInput) {
        audio.input = audioInput.get();
        audio.in = firstStream(audioInput.get(), AVMEDIA_TYPE_AUDIO);
    }
    counts.audioStream = audio.in != nullptr;
    if (audio.in) {
        if (!addStream(audio))
            return fail("avformat_new_stream aac error");
        if (!copyParameters(audio))
            return fail("avcodec_copy_context aac error");
    }

    // Each stream gets the filter for its own kind only: the H.264 one for video, the AAC one for audio.
    video.filter = makeFilter("h264_mp4toannexb", video.in);
    if (!video.filter)
        return fail("av_bsf_init h264 error");
    if (audio.in) {
        audio.filter = makeFilter("aac_adtstoasc", audio.in);
        if (!audio.filter)
            return fail("av_bsf_init aac error");
    }

    if (!(output->oformat->flags & AVFMT_NOFILE) &&
        avio_open(&output->pb, mp4Path.constData(), AVIO_FLAG_WRITE) < 0)
        return fail("avio_open mp4 error");
    if (avformat_write_header(output.get(), nullptr) < 0)
        return fail("avformat_write_header mp4 error");

    // Interleave by time (ties go to video) until the input whose turn it is runs out.
    av::PacketPtr packet(av_packet_alloc());
    if (!packet)
        return fail("av_packet_alloc error");
    bool writeFailed = false;
    while (!writeFailed) {
        const bool takeVideo =
            !audio.in || av_compare_ts(video.last, video.in->time_base, audio.last, audio.in->time_base) <= 0;
        Side &side = takeVideo ? video : audio;
        if (!readPacket(side, packet.get()))
            break;
        side.clock.stamp(packet.get(), side.in);
        if (packet->pts != AV_NOPTS_VALUE)
            side.last = packet->pts;
        if (av_bsf_send_packet(side.filter.get(), packet.get()) < 0) {
            av_packet_unref(packet.get());
            continue;
        }
        while (!writeFailed && av_bsf_receive_packet(side.filter.get(), packet.get()) == 0) {
            const auto rounding = AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
            packet->pts = av_rescale_q_rnd(packet->pts, side.in->time_base, side.out->time_base, rounding);
            packet->dts = av_rescale_q_rnd(packet->dts, side.in->time_base, side.out->time_base, rounding);
            packet->duration = av_rescale_q(packet->duration, side.in->time_base, side.out->time_base);
            packet->pos = -1;
            packet->stream_index = side.out->index;
            qCDebug(lcTool)
                << TIMEMS
                << QStringLiteral("正在写入包 size: %1  pts: %2").arg(packet->size).arg(packet->pts);
            if (av_interleaved_write_frame(output.get(), packet.get()) < 0) {
                logLine("写入包数据出错");
                writeFailed = true;
            } else {
                ++(&side == &video ? counts.videoPackets : counts.audioPackets);
            }
            av_packet_unref(packet.get());
        }
    }

    // What the stopping rule left of the sound, so that the caller can say it.
    if (audio.in && !writeFailed) {
        while (readPacket(audio, packet.get())) {
            ++counts.audioLeft;
            av_packet_unref(packet.get());
        }
    }
    const int trailer = av_write_trailer(output.get());
    if (trailer < 0 && !writeFailed) {
        failure = QStringLiteral("av_write_trailer mp4 error: ") + media::errorText(trailer);
        logLine("error");
        return false;
    }
    if (writeFailed) {
        failure = QString::fromUtf8("写入包数据出错");
        logLine("error");
        return false;
    }
    return true;
}
