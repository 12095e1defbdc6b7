// tarn-bench URL SECONDS: plays URL through FFmpegThread with no window for SECONDS (at least 10, or until
// it ends), then runs `ffmpeg -threads 1 -i URL -frames:v N -pix_fmt bgra -f null -` on the same input for
// the N frames the engine delivered, and prints the frames per second the engine delivered, the CPU
// milliseconds per delivered frame of both, and last the line "ratio R" (engine CPU per frame / ffmpeg CPU
// per frame). ffmpeg's process start-up (the CPU of the same command stopped after its first frame) is
// taken off its figure.
// With --audio the engine also plays the sound (on the default output; start a sound server first) and
// prints how far the picture runs ahead of the sound early on and at the end, and the drift between them.
// With --record DIR the player records the input into DIR (one MP4) while it plays.
#include "BenchPlayer.h"
#include "media/Recorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

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

    // Runs ffmpeg on the input with extra output options; its CPU milliseconds.
    const auto runFfmpeg = [&](QProcess &ffmpeg, const QStringList &limit) {
        ffmpeg.setProcessChannelMode(QProcess::SeparateChannels);
        const double childBefore = cpuMs(RUSAGE_CHILDREN);
        ffmpeg.start("ffmpeg", QStringList{"-hide_banner", "-nostats", "-loglevel", "error", "-progress",
                                           "pipe:1", "-threads", "1", "-i", url} +
                                   limit + QStringList{"-pix_fmt", "bgra", "-f", "null", "-"});
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
    out << "ratio " << QString::number(enginePerFrame / ffmpegPerFrame, 'f', 3) << "\n";
    return 0;
}
