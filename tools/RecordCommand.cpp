#include "tools/RecordCommand.h"

#include "media/FFmpegThread.h"
#include "media/Recorder.h"
#include "tools/ArgumentPath.h"
#include "tools/ToolCommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QTextStream>
#include <QTimer>

#include <limits>

namespace {
using ToolCommandLine::BadUsage;
using ToolCommandLine::Failed;

int fail(const QString &line, int code = Failed)
{
    return ToolCommandLine::fail(QStringLiteral("record: ") + line, code);
}

// The ranges of --seconds and --slice (besides 0, one file), in ms.
constexpr qint64 kMinRecordMs = 1;
constexpr qint64 kMaxRecordMs = qint64(31) * 24 * 3600 * 1000;
constexpr qint64 kMinSliceMs = 1000;
constexpr qint64 kMaxSliceMs = qint64(24) * 3600 * 1000;

// A number of seconds as ms, or -1 when it is no number or lies outside [minMs, maxMs]. The range is
// checked before anything is rounded or multiplied into an integer; NaN fails every comparison.
qint64 secondsOption(const QString &text, qint64 minMs, qint64 maxMs)
{
    bool ok = false;
    const double ms = text.toDouble(&ok) * 1000;
    if (!ok || !(ms >= double(minMs) && ms <= double(maxMs)))
        return -1;
    return qBound(minMs, qRound64(ms), maxMs);
}

// Whole seconds as ms: 0, or a count within [minMs, maxMs]; -1 otherwise.
qint64 wholeSecondsOption(const QString &text, qint64 minMs, qint64 maxMs)
{
    bool ok = false;
    const qlonglong seconds = text.toLongLong(&ok);
    if (!ok || seconds < 0 || seconds > maxMs / 1000 || (seconds > 0 && seconds < minMs / 1000))
        return -1;
    return seconds * 1000;
}

// DIR exists (made if missing) and takes a new file.
bool writableDirectory(const QString &dir)
{
    if (!QDir().mkpath(dir))
        return false;
    QTemporaryFile probe(dir + QStringLiteral("/.tarn-record-XXXXXX"));
    return probe.open();
}
} // namespace

namespace RecordCommand {

int run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Plays URL (a network stream) and records it into DIR without re-encoding: MP4 files, or with --raw "
        "raw H.264 files (named .mp4) with ADTS AAC files beside them, under a directory per day. Prints the "
        "path of each file as it is closed.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption seconds(
        "seconds", "Record for N seconds (default 10): from 0.001 to 2678400 (31 days), fractions allowed.",
        "N", "10");
    const QCommandLineOption slice(
        "slice",
        "Start a new file every S whole seconds, from 1 to 86400 (24 h); 0 (default) records one file.", "S",
        "0");
    const QCommandLineOption raw("raw", "Raw H.264 and AAC instead of MP4 (RTMP streams always record raw).");
    const QCommandLineOption audio("audio",
                                   "Record the audio too (raw mode only: MP4 files hold video alone).");
    parser.addOptions({seconds, slice, raw, audio});
    parser.addPositionalArgument("record", QString(), "record");
    parser.addPositionalArgument("URL", "The stream to record (rtsp://, rtmp://, http://).");
    parser.addPositionalArgument("DIR", "The directory the day directories go under.");
    if (!parser.parse(QStringList{QCoreApplication::applicationName(), "record"} + arguments))
        return fail(parser.errorText(), BadUsage);
    if (parser.isSet(help)) {
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    const QStringList given = parser.positionalArguments().mid(1);
    if (given.size() != 2)
        return fail(QStringLiteral("2 arguments expected (URL DIR), %1 given; see tarn-tool record --help")
                        .arg(given.size()),
                    BadUsage);
    const qint64 recordMs = secondsOption(parser.value(seconds), kMinRecordMs, kMaxRecordMs);
    if (recordMs < 0)
        return fail("--seconds takes a number of seconds from 0.001 to 2678400 (31 days), not '" +
                        parser.value(seconds) + "'",
                    BadUsage);
    const qint64 sliceMs = wholeSecondsOption(parser.value(slice), kMinSliceMs, kMaxSliceMs);
    if (sliceMs < 0)
        return fail("--slice takes 0 (one file) or whole seconds from 1 to 86400 (24 h), not '" +
                        parser.value(slice) + "'",
                    BadUsage);
    const QString url = given.at(0);
    // A local path is never recorded: say so before anything opens it (a FIFO would wait for a writer).
    if (!url.contains(QLatin1String("://")) && !url.startsWith(QLatin1String("video=")) &&
        !url.startsWith(QLatin1String("/dev/"))) {
        const ArgumentPath path(url);
        const QString reason = path.notAFileReason(false);
        return fail((reason.isEmpty() ? url + " is a file" : reason) +
                    ", not a network stream; only network streams are recorded");
    }
    const QString dir = QFileInfo(given.at(1)).absoluteFilePath();
    if (!writableDirectory(dir))
        return fail("cannot write to " + dir);

    FFmpegThread player;
    player.setUrl(url);
    player.setSaveFile(true);
    player.setSaveMp4(!parser.isSet(raw));
    player.setPlayAudio(parser.isSet(audio));
    player.setSavePath(dir);
    player.setSaveInterval(int(sliceMs / 1000));
    player.setFileName(
        Recorder::makeFileName(dir, player.currentSettings().fileFlag, QDateTime::currentDateTime()));

    QEventLoop loop;
    bool openFailed = false;
    bool started = false;
    bool timeUp = false;
    QStringList files;
    int writeError = 0;
    QString writeFailure;
    // Recordings may outlast what one QTimer interval holds: the timer is armed again until the end.
    QDeadlineTimer end;
    QElapsedTimer playing;
    QTimer stopTimer;
    stopTimer.setSingleShot(true);
    const auto armStop = [&] {
        stopTimer.start(int(qBound<qint64>(0, end.remainingTime(), std::numeric_limits<int>::max())));
    };
    QObject::connect(&stopTimer, &QTimer::timeout, &loop, [&] {
        if (!end.hasExpired())
            return armStop();
        timeUp = true;
        player.stop();
    });
    QObject::connect(&player, &FFmpegThread::saveFileReceive, &loop, [&](const QString &path) {
        files << path;
        QTextStream(stdout) << path << Qt::endl;
    });
    // A failed write ends the recording; the player has nothing more to do.
    QObject::connect(&player, &FFmpegThread::saveErrorReceive, &loop, [&](int error, const QString &reason) {
        if (writeFailure.isEmpty()) {
            writeError = error;
            writeFailure = reason;
        }
        player.stop();
    });
    QObject::connect(&player, &FFmpegThread::receivePlayStart, &loop, [&] {
        started = true;
        playing.start();
        end.setRemainingTime(recordMs);
        armStop();
    });
    QObject::connect(&player, &FFmpegThread::receivePlayError, &loop, [&] { openFailed = true; });
    QObject::connect(&player, &FFmpegThread::receivePlayFinsh, &loop, &QEventLoop::quit);
    player.play();
    player.start();
    loop.exec();
    player.wait();
    // The closes the player posted on its way out.
    QCoreApplication::sendPostedEvents();

    if (!writeFailure.isEmpty())
        return fail(writeError == AVERROR(ENOSPC) ? "disk full: " + dir : writeFailure);
    if (openFailed || !started)
        return fail("cannot open " + url +
                    (player.openFailure().isEmpty() ? QString() : ": " + player.openFailure()));
    // What the input turned out to be: a local file, or a stream that ended before its time was up.
    const bool networkUrl = url.contains(QLatin1String("://")) && !url.startsWith(QLatin1String("file:"));
    const QString ended = QStringLiteral("%1: stream ended after %2 s")
                              .arg(url, QString::number(double(playing.elapsed()) / 1000, 'f', 1));
    if (!player.currentSettings().saveFile) {
        if (!networkUrl)
            return fail(url + " is not a network stream; only network streams are recorded");
        const QString gate = QStringLiteral(
            "a network input with a length plays as a file and is recorded only from a URL ending in mp4");
        return fail(timeUp ? url + " was not recorded: " + gate
                           : ended + ", nothing recorded (" + gate + ')');
    }
    if (files.isEmpty())
        return fail(timeUp ? "nothing recorded from " + url : ended + ", nothing recorded");
    return 0;
}

} // namespace RecordCommand
