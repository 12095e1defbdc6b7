// tarn-bench URL SECONDS: plays URL through FFmpegThread with no window for SECONDS (or until it ends),
// then runs `ffmpeg -threads 1 -i URL -pix_fmt bgra -f null -` on the same input, and prints the frames
// per second the engine delivered, the CPU milliseconds per delivered frame of both, and last the line
// "ratio R" (engine CPU per frame / ffmpeg CPU per frame).
// tarn-bench URL SECONDS --record DIR: the same while the player records the input into DIR (one MP4).
#include "media/FFmpegThread.h"
#include "media/Recorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

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
    if (argc < 3) {
        out << "usage: tarn-bench URL SECONDS [--record DIR]\n";
        return 2;
    }
    const QString url = QString::fromLocal8Bit(argv[1]);
    const int seconds = QString::fromLocal8Bit(argv[2]).toInt();
    qInstallMessageHandler(quietHandler);

    FFmpegThread player;
    if (argc >= 5 && QByteArray(argv[3]) == "--record") {
        const QString dir = QString::fromLocal8Bit(argv[4]);
        player.setSaveFile(true);
        player.setSavePath(dir);
        player.setFileName(Recorder::makeFileName(dir, QStringLiteral("Ch1"), QDateTime::currentDateTime()));
        QObject::connect(&player, &FFmpegThread::saveFileReceive, &app,
                         [&](const QString &file) { out << "recorded " << file << "\n"; });
    }
    qint64 frames = 0;
    qint64 checksum = 0;
    QObject::connect(&player, &FFmpegThread::receiveImage, &app, [&](const QImage &image) {
        ++frames;
        checksum += qRed(image.pixel(image.width() / 2, image.height() / 2));
    });
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

    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::SeparateChannels);
    const double childBefore = cpuMs(RUSAGE_CHILDREN);
    ffmpeg.start("ffmpeg",
                 {"-hide_banner", "-nostats", "-loglevel", "error", "-progress", "pipe:1", "-threads", "1",
                  "-i", url, "-t", QString::number(seconds), "-pix_fmt", "bgra", "-f", "null", "-"});
    ffmpeg.waitForFinished(-1);
    const double ffmpegCpu = cpuMs(RUSAGE_CHILDREN) - childBefore;
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

    out << "engine frames " << frames << " in " << QString::number(elapsed, 'f', 2) << " s (checksum "
        << checksum << ")\n";
    out << "decoded fps " << QString::number(frames / elapsed, 'f', 1) << "\n";
    out << "engine cpu ms/frame " << QString::number(enginePerFrame, 'f', 3) << "\n";
    out << "ffmpeg frames " << ffmpegFrames << "\n";
    out << "ffmpeg cpu ms/frame " << QString::number(ffmpegPerFrame, 'f', 3) << "\n";
    out << "ratio " << QString::number(enginePerFrame / ffmpegPerFrame, 'f', 3) << "\n";
    return 0;
}
