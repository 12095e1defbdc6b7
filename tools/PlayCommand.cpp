#include "PlayCommand.h"

#include "media/FFmpegThread.h"
#include "tools/ArgumentPath.h"
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
        "Plays URL (a file, a FIFO or a stream) without a window until it ends or for N seconds, then prints "
        "the frames delivered, the seconds of audio written and whether the audio output started. A file "
        "without sound plays at its own pace, as in a viewer, unless --fast is given. Exits 1 when nothing "
        "was played: no picture from an input with video, or no sound with --audio.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption audio("audio", "Play the sound on the default audio output.");
    const QCommandLineOption seconds("seconds", "Stop after N seconds (0.001 to 86400).", "N");
    const QCommandLineOption fast("fast", "Decode as fast as possible instead of at the file's own pace.");
    parser.addOptions({audio, seconds, fast});
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
    QString url = positionals.first();
    qint64 limitMs = 0;
    if (parser.isSet(seconds)) {
        limitMs = ToolCommandLine::milliseconds(parser.value(seconds), 1, 86400 * 1000LL);
        if (limitMs < 0)
            return fail("--seconds takes a number of seconds from 0.001 to 86400, not '" +
                            parser.value(seconds) + "'",
                        BadUsage);
    }
    // A plain path must name a file (or a FIFO); anything with a scheme or a device prefix goes to the
    // player as is.
    ArgumentPath path(url);
    if (!url.contains(QLatin1String("://")) && !url.startsWith(QLatin1String("video=")) &&
        !url.startsWith(QLatin1String("/dev/"))) {
        if (const QString reason = path.notAFileReason(true); !reason.isEmpty())
            return fail(reason);
        url = path.openName();
        if (url.isEmpty())
            return fail("cannot read " + path.display());
    }

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
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &player, &FFmpegThread::stop);
    if (limitMs > 0)
        limit.start(int(limitMs));

    player.setUrl(url);
    player.setPlayAudio(parser.isSet(audio));
    player.setPaceVideo(!parser.isSet(fast));
    player.play();
    player.start();
    loop.exec();
    player.wait();
    const QString shown = path.display();
    if (openFailed) {
        const QString reason = player.openFailure();
        return fail("cannot open " + shown + (reason.isEmpty() ? QString() : ": " + reason));
    }

    QTextStream(stdout) << "frames delivered " << frames.load() << '\n'
                        << "audio seconds written " << QString::number(player.audioSecondsWritten(), 'f', 3)
                        << '\n'
                        << "audio output started " << (outputStarted ? "yes" : "no") << '\n'
                        << Qt::flush;
    if (player.hasVideo() && frames == 0)
        return fail("no picture decoded from " + shown);
    if (parser.isSet(audio) && player.hasAudio() && !outputStarted)
        return fail("the audio output took none of the sound of " + shown);
    if (!player.hasVideo() && !(parser.isSet(audio) && player.hasAudio()))
        return fail(player.hasAudio() ? "no picture in " + shown + "; --audio plays its sound"
                                      : "neither picture nor sound in " + shown);
    return 0;
}

} // namespace PlayCommand
