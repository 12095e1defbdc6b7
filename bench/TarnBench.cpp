// tarn-bench URL SECONDS: plays URL through FFmpegThread with no window for SECONDS (at least 10, or until
// it ends), then runs `ffmpeg -threads 1 -i URL -frames:v N -pix_fmt bgra -f null -` on the same input for
// the N frames the engine delivered, and prints the frames per second the engine delivered, the CPU
// milliseconds per delivered frame of both, and last the line "ratio R" (engine CPU per frame / ffmpeg CPU
// per frame). ffmpeg's process start-up (the CPU of the same command stopped after its first frame) is
// taken off its figure.
// With --audio the engine also plays the sound (on the default output; start a sound server first) and
// prints how far the picture runs ahead of the sound early on and at the end, and the drift between them.
// With --record DIR the player records the input into DIR (one MP4) while it plays.
// A capture device (/dev/videoN, for example the virtual camera: LD_PRELOAD=build/lib/libtarn-vcam.so) is
// read through "v4l2"; when it sends YUYV, the conversion alone is timed too: the engine's converter
// against swscale's direct YUYV to BGRA.
#include "BenchPlayer.h"
#include "media/FrameConverter.h"
#include "media/Recorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QStringList>
#include <QTextStream>
#include <QThread>
#include <QTimer>

extern "C" {
#include <libavdevice/avdevice.h>
}

#include <atomic>

#include <sys/resource.h>

namespace {
double cpuMs(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// Microseconds per conversion of frame by converter and by one direct swscale call, over rounds.
void timeYuyvConversion(QTextStream &out, const AVFrame *frame)
{
    constexpr int rounds = 200;
    FrameConverter converter;
    converter.configure(frame->width, frame->height, 0, SWS_BICUBIC);
    QImage direct(frame->width, frame->height, QImage::Format_RGB32);
    av::SwsContextPtr sws(sws_getContext(frame->width, frame->height, AV_PIX_FMT_YUYV422, frame->width,
                                         frame->height, AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr,
                                         nullptr));
    uint8_t *data[4] = {direct.bits()};
    int lines[4] = {int(direct.bytesPerLine())};
    QElapsedTimer timer;
    const QImage *image = nullptr;
    converter.convert(frame, image); // first use makes the scalers
    timer.start();
    for (int i = 0; i < rounds; ++i)
        converter.convert(frame, image);
    const double engine = timer.nsecsElapsed() / 1000.0 / rounds;
    timer.restart();
    for (int i = 0; i < rounds; ++i)
        sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, data, lines);
    const double swscale = timer.nsecsElapsed() / 1000.0 / rounds;
    out << "yuyv conversion us/frame " << QString::number(engine, 'f', 1) << " (direct swscale "
        << QString::number(swscale, 'f', 1) << ", ratio " << QString::number(engine / swscale, 'f', 3)
        << ")\n";
}

// The first frame of a capture device that sends YUYV, decoded; null for anything else.
av::FramePtr firstYuyvFrame(const QString &url)
{
    avdevice_register_all();
    AVFormatContext *opened = nullptr;
    if (avformat_open_input(&opened, url.toUtf8().constData(), av_find_input_format("v4l2"), nullptr) < 0)
        return nullptr;
    av::InputContextPtr input(opened);
    const AVCodecParameters *parameters = input->streams[0]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    av::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    av::PacketPtr packet(av_packet_alloc());
    av::FramePtr frame(av_frame_alloc());
    if (!codec || !decoder || avcodec_parameters_to_context(decoder.get(), parameters) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return nullptr;
    for (int tries = 0; tries < 100; ++tries) {
        const int read = av_read_frame(input.get(), packet.get());
        if (read == AVERROR(EAGAIN)) {
            QThread::msleep(5);
            continue;
        }
        if (read < 0)
            break;
        const bool sent = avcodec_send_packet(decoder.get(), packet.get()) >= 0;
        av_packet_unref(packet.get());
        // A copy of its own: the decoded picture lies in a buffer of the device, gone with the input.
        if (!sent || avcodec_receive_frame(decoder.get(), frame.get()) < 0)
            continue;
        if (frame->format != AV_PIX_FMT_YUYV422)
            return nullptr;
        av::FramePtr copy(av_frame_alloc());
        copy->format = frame->format;
        copy->width = frame->width;
        copy->height = frame->height;
        if (av_frame_get_buffer(copy.get(), 0) < 0 || av_frame_copy(copy.get(), frame.get()) < 0)
            return nullptr;
        return copy;
    }
    return nullptr;
}

// Discards the player's log lines: the benchmark measures decoding and delivery, not the terminal.
void quietHandler(QtMsgType, const QMessageLogContext &, const QString &) {}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QStringList args = app.arguments();
    const bool audio = args.removeAll(QStringLiteral("--audio")) > 0;
    QString recordDir;
    if (const int record = args.indexOf(QStringLiteral("--record")); record > 0 && record + 1 < args.size()) {
        recordDir = args.at(record + 1);
        args.erase(args.begin() + record, args.begin() + record + 2);
    }
    if (args.size() < 3) {
        out << "usage: tarn-bench URL SECONDS [--audio] [--record DIR]\n";
        return 2;
    }
    const QString url = args.at(1);
    const int seconds = qMax(10, args.at(2).toInt());
    qInstallMessageHandler(quietHandler);

    BenchPlayer player;
    player.setPlayAudio(audio);
    if (!recordDir.isEmpty()) {
        player.setSaveFile(true);
        player.setSavePath(recordDir);
        player.setFileName(
            Recorder::makeFileName(recordDir, QStringLiteral("Ch1"), QDateTime::currentDateTime()));
        QObject::connect(&player, &FFmpegThread::saveFileReceive, &app,
                         [&](const QString &file) { out << "recorded " << file << "\n"; });
    }
    // Counted on the player thread as each image leaves, so a busy main thread costs no frames.
    std::atomic<qint64> frames{0};
    std::atomic<qint64> checksum{0};
    QObject::connect(
        &player, &FFmpegThread::receiveImage, &app,
        [&](const QImage &image) {
            const qint64 delivered = ++frames;
            checksum += qRed(image.pixel(image.width() / 2, image.height() / 2));
            if (audio)
                player.sample(delivered);
        },
        Qt::DirectConnection);
    QObject::connect(&player, &FFmpegThread::receivePlayFinsh, &app, &QCoreApplication::quit);
    QTimer::singleShot(seconds * 1000, &player, &FFmpegThread::stop);

    const double cpuBefore = cpuMs(RUSAGE_SELF);
    QElapsedTimer wall;
    wall.start();
    player.setUrl(url);
    player.play();
    player.start();
    app.exec();
    player.wait();
    const double engineCpu = cpuMs(RUSAGE_SELF) - cpuBefore;
    const double elapsed = wall.elapsed() / 1000.0;
    if (frames == 0) {
        out << "no frames delivered\n";
        return 1;
    }
    const double enginePerFrame = engineCpu / frames;

    const bool device = url.startsWith("/dev/video");
    // Runs ffmpeg on the input with extra output options; its CPU milliseconds.
    const auto runFfmpeg = [&](QProcess &ffmpeg, const QStringList &limit) {
        ffmpeg.setProcessChannelMode(QProcess::SeparateChannels);
        const double childBefore = cpuMs(RUSAGE_CHILDREN);
        QStringList arguments{"-hide_banner", "-nostats", "-loglevel", "error",
                              "-progress",    "pipe:1",   "-threads",  "1"};
        if (device)
            arguments << "-f"
                      << "v4l2";
        ffmpeg.start("ffmpeg", arguments + QStringList{"-i", url} + limit +
                                   QStringList{"-pix_fmt", "bgra", "-f", "null", "-"});
        ffmpeg.waitForFinished(-1);
        return cpuMs(RUSAGE_CHILDREN) - childBefore;
    };
    QProcess startup;
    const double startupCpu = runFfmpeg(startup, {"-frames:v", "1"});
    QProcess ffmpeg;
    // The same pictures as the engine delivered.
    const double ffmpegCpu = runFfmpeg(ffmpeg, {"-frames:v", QString::number(frames)}) - startupCpu;
    qint64 ffmpegFrames = 0;
    for (const QByteArray &line : ffmpeg.readAllStandardOutput().split('\n')) {
        if (line.startsWith("frame="))
            ffmpegFrames = line.mid(6).trimmed().toLongLong();
    }
    if (ffmpegFrames == 0) {
        out << "ffmpeg decoded no frames\n";
        return 1;
    }
    const double ffmpegPerFrame = ffmpegCpu / ffmpegFrames;

    out << "ffmpeg start-up cpu ms " << QString::number(startupCpu, 'f', 1) << " (taken off)\n";
    out << "engine frames " << frames << " in " << QString::number(elapsed, 'f', 2) << " s (checksum "
        << checksum << ")\n";
    out << "decoded fps " << QString::number(frames / elapsed, 'f', 1) << "\n";
    out << "engine cpu ms/frame " << QString::number(enginePerFrame, 'f', 3) << "\n";
    out << "ffmpeg frames " << ffmpegFrames << "\n";
    out << "ffmpeg cpu ms/frame " << QString::number(ffmpegPerFrame, 'f', 3) << "\n";
    if (audio) {
        out << "audio seconds written " << QString::number(player.audioSeconds(), 'f', 3) << "\n";
        out << "picture ahead of sound at 2-3 s ms " << QString::number(player.early.value(), 'f', 1) << "\n";
        out << "picture ahead of sound at end ms " << QString::number(player.late.value(), 'f', 1) << "\n";
        out << "av drift ms " << QString::number(player.late.value() - player.early.value(), 'f', 1) << "\n";
    }
    if (device) {
        if (const av::FramePtr frame = firstYuyvFrame(url))
            timeYuyvConversion(out, frame.get());
    }
    out << "ratio " << QString::number(enginePerFrame / ffmpegPerFrame, 'f', 3) << "\n";
    return 0;
}
