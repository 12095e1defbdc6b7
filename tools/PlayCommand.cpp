#include "PlayCommand.h"

#include "media/FFmpegThread.h"
#include "tools/ToolCommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>

#include <atomic>

namespace {
using ToolCommandLine::BadUsage;
using ToolCommandLine::Failed;

int fail(const QString &line, int code = Failed)
{
    return ToolCommandLine::fail(QStringLiteral("play: ") + line, code);
}

// The player with what it wrote to the audio output in view.
class ToolPlayer : public FFmpegThread
{
public:
    ~ToolPlayer() override
    {
        stop();
        wait();
    }
    double audioSecondsWritten() const { return audioOutput.microsecondsWritten() / 1e6; }
};
} // namespace

namespace PlayCommand {

int run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Plays URL (a file or a stream) without a window until it ends or for N seconds, then prints the "
        "frames delivered, the seconds of audio written and whether the audio output started.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption audio("audio", "Play the sound on the default audio output.");
    const QCommandLineOption seconds("seconds", "Stop after N seconds.", "N");
    parser.addOptions({audio, seconds});
    parser.addPositionalArgument("play", QString(), "play");
    parser.addPositionalArgument("URL", "The input to play.");
    if (!parser.parse(QStringList{QCoreApplication::applicationName(), "play"} + arguments))
        return fail(parser.errorText(), BadUsage);
    if (parser.isSet(help)) {
        QTextStream(stdout) << parser.helpText() << Qt::flush;
        return 0;
    }
    const QStringList positionals = parser.positionalArguments().mid(1);
    if (positionals.size() != 1 || positionals.first().isEmpty())
        return fail("one URL expected; see tarn-tool play --help", BadUsage);
    const QString url = positionals.first();
    int limitMs = 0;
    if (parser.isSet(seconds)) {
        bool ok = false;
        const double value = parser.value(seconds).toDouble(&ok);
        if (!ok || value <= 0 || value > 86400)
            return fail("--seconds wants a number of seconds above 0, not '" + parser.value(seconds) + "'",
                        BadUsage);
        limitMs = int(value * 1000);
    }
    // A plain path must name a file; anything with a scheme or a device prefix goes to the player as is.
    if (!url.contains(QLatin1String("://")) && !url.startsWith(QLatin1String("video=")) &&
        !url.startsWith(QLatin1String("/dev/")) && !QFileInfo(url).isFile())
        return fail("no such file: " + url);

    ToolPlayer player;
    std::atomic<qint64> frames{0};
    std::atomic<bool> outputStarted{false};
    bool openFailed = false;
    QEventLoop loop;
    // Counted on the player thread as each image leaves: nothing waits for this thread's event loop.
    QObject::connect(
        &player, &FFmpegThread::receiveImage, &player, [&frames](const QImage &) { ++frames; },
        Qt::DirectConnection);
    QObject::connect(
        &player, &FFmpegThread::fileVolumeReceive, &player,
        [&outputStarted](int, bool) { outputStarted = true; }, Qt::DirectConnection);
    QObject::connect(&player, &FFmpegThread::receivePlayError, &loop, [&openFailed] { openFailed = true; });
    QObject::connect(&player, &FFmpegThread::receivePlayFinsh, &loop, &QEventLoop::quit);
    if (limitMs > 0)
        QTimer::singleShot(limitMs, &player, &FFmpegThread::stop);

    player.setUrl(url);
    player.setPlayAudio(parser.isSet(audio));
    player.play();
    player.start();
    loop.exec();
    player.wait();
    if (openFailed)
        return fail("cannot open " + url);

    QTextStream(stdout) << "frames delivered " << frames.load() << '\n'
                        << "audio seconds written " << QString::number(player.audioSecondsWritten(), 'f', 3)
                        << '\n'
                        << "audio output started " << (outputStarted ? "yes" : "no") << '\n'
                        << Qt::flush;
    return 0;
}

} // namespace PlayCommand
