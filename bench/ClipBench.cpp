// tarn-clip-bench SECONDS [--warmup S] [--clip FILE] [--url URL]: plays a camera (by default the virtual
// one, "video=UVC Camera|640x512": run it with LD_PRELOAD=build/lib/libtarn-vcam.so) with the player and a
// ClipRecorder on it as a frame tap, recording into FILE with --clip and idle without. After S seconds of
// warm-up (default 5) it measures the process's CPU time over SECONDS and prints
//   cpu-s/s C        CPU seconds per second of the whole process (player, conversion to images, clip)
//   frames N         frames the player handed out in those seconds
//   clip frames M    frames the clip holds, and how many the full queue left out
// bench/clip-bench.sh runs it with and without a clip beside the ffmpeg command line doing the same.
#include "media/ClipRecorder.h"
#include "media/FFmpegThread.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QTimer>

#include <atomic>

#include <sys/resource.h>

namespace {
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Counts the frames the player hands on (beside the clip's tap).
struct CountingTap : FrameTap
{
    std::atomic<qint64> frames{0};
    void tapFrame(const AVFrame &, const Facts &) override { ++frames; }
};
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarn-clip-bench"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The CPU of the player on a camera, with a clip recording (--clip) or without."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("seconds"), QStringLiteral("How long to measure."));
    const QCommandLineOption warmupOption(QStringLiteral("warmup"), QStringLiteral("Seconds before (5)."),
                                          QStringLiteral("s"), QStringLiteral("5"));
    const QCommandLineOption clipOption(QStringLiteral("clip"), QStringLiteral("Record a clip into FILE."),
                                        QStringLiteral("file"));
    const QCommandLineOption urlOption(QStringLiteral("url"), QStringLiteral("The input."),
                                       QStringLiteral("url"), QStringLiteral("video=UVC Camera|640x512"));
    parser.addOptions({warmupOption, clipOption, urlOption});
    parser.process(app);
    bool ok = false;
    const double seconds = parser.positionalArguments().value(0).toDouble(&ok);
    const double warmup = parser.value(warmupOption).toDouble();
    if (!ok || seconds <= 0 || warmup < 0)
        parser.showHelp(2);
    QLoggingCategory::setFilterRules(QStringLiteral("tarn.*.debug=false"));

    FFmpegThread::initLib();
    FFmpegThread player;
    ClipRecorder clip;
    CountingTap counter;
    player.addFrameTap(&clip);
    player.addFrameTap(&counter);
    player.setUrl(parser.value(urlOption));
    player.play();
    player.start();

    QTextStream out(stdout);
    int status = 0;
    double cpuStart = 0;
    qint64 framesStart = 0;
    QElapsedTimer wall;
    std::atomic<qint64> clipFrames{-1};
    // Direct: it comes from the clip's thread while stop() waits for it.
    QObject::connect(
        &clip, &ClipRecorder::finished, &app,
        [&](const QString &, qint64 frames, qint64) { clipFrames = frames; }, Qt::DirectConnection);
    QObject::connect(&clip, &ClipRecorder::failed, &app, [&](int, const QString &reason) {
        out << "clip failed: " << reason << Qt::endl;
        status = 1;
    });
    QTimer::singleShot(int(warmup * 1000), &app, [&] {
        if (counter.frames == 0) {
            out << "no frame came from " << parser.value(urlOption) << Qt::endl;
            status = 1;
            app.quit();
            return;
        }
        if (parser.isSet(clipOption) && !clip.start(parser.value(clipOption))) {
            out << "clip: " << clip.errorText() << Qt::endl;
            status = 1;
            app.quit();
            return;
        }
        cpuStart = cpuSeconds();
        framesStart = counter.frames;
        wall.start();
        QTimer::singleShot(int(seconds * 1000), &app, [&] {
            const double cpu = cpuSeconds() - cpuStart;
            const double elapsed = wall.elapsed() / 1000.0;
            out << "cpu-s/s " << QString::number(cpu / elapsed, 'f', 4) << Qt::endl;
            out << "frames " << counter.frames - framesStart << Qt::endl;
            app.quit();
        });
    });
    app.exec();
    player.removeFrameTap(&counter);
    player.removeFrameTap(&clip);
    if (clip.isRecording()) {
        clip.stop();
        out << "clip frames " << clipFrames << " dropped " << clip.droppedFrames() << Qt::endl;
    }
    player.stop();
    player.wait();
    return status;
}
