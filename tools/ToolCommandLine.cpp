#include "ToolCommandLine.h"

#include "ArgumentPath.h"
#include "FFmpegTool.h"
#include "PlayCommand.h"
#include "RecordCommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTextStream>

#include <cmath>

extern "C" {
#include <libavutil/log.h>
}

namespace {
using ToolCommandLine::BadUsage;
using ToolCommandLine::fail;
using ToolCommandLine::Failed;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Parses the arguments of command (those after its name) with the options already on parser and the
// given positional arguments. Returns -1 to go on, or the exit code when the parse is the whole answer
// (help, or a command line error).
int parseCommand(QCommandLineParser &parser, const QString &command, const QStringList &arguments,
                 const QStringList &positionals)
{
    const QCommandLineOption help = parser.addHelpOption();
    // The command's own name leads its usage line: "tarn-tool [options] merge H264 AAC MP4".
    parser.addPositionalArgument(command, QString(), command);
    for (const QString &name : positionals)
        parser.addPositionalArgument(name, QString());
    if (!parser.parse(QStringList{QCoreApplication::applicationName(), command} + arguments))
        return fail(command + ": " + parser.errorText(), BadUsage);
    if (parser.isSet(help)) {
        out() << parser.helpText() << Qt::flush;
        return 0;
    }
    const int given = parser.positionalArguments().size() - 1;
    if (given != positionals.size())
        return fail(QStringLiteral("%1: %2 arguments expected (%3), %4 given; see tarn-tool %1 --help")
                        .arg(command, QString::number(positionals.size()), positionals.join(' '),
                             QString::number(given)),
                    BadUsage);
    return -1;
}

int merge(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Copies the video of H264 (a raw H.264 file) and the audio of AAC (an ADTS AAC file) into the MP4 "
        "file without re-encoding. An empty AAC (\"\") gives video alone.");
    if (const int done = parseCommand(parser, "merge", arguments, {"H264", "AAC", "MP4"}); done >= 0)
        return done;
    const QStringList files = parser.positionalArguments().mid(1);
    ArgumentPath h264(files.at(0)), aac(files.at(1));
    const QString &mp4 = files.at(2);
    for (const ArgumentPath *input : {&h264, &aac}) {
        if (input == &aac && input->display().isEmpty())
            continue;
        if (const QString reason = input->notAFileReason(false); !reason.isEmpty())
            return fail("merge: " + reason);
    }
    if (mp4.isEmpty())
        return fail("merge: no MP4 file named");
    const QString h264Name = h264.openName();
    const QString aacName = aac.display().isEmpty() ? QString() : aac.openName();
    if (h264Name.isEmpty() || (!aac.display().isEmpty() && aacName.isEmpty()))
        return fail("merge: cannot read " + (h264Name.isEmpty() ? h264 : aac).display());

    FFmpegTool tool;
    bool ok = false;
    QString failure;
    QObject::connect(&tool, &FFmpegTool::mergeFinished, [&](bool merged, const QString &message) {
        ok = merged;
        failure = message;
    });
    tool.h264ToMp4ByCode(h264Name, aacName, mp4);
    if (!ok)
        return fail("merge failed: " + (failure.isEmpty() ? QStringLiteral("nothing written") : failure));
    const FFmpegTool::MergeCounts counts = tool.lastMerge();
    if (!counts.note.isEmpty())
        QTextStream(stderr) << "tarn-tool: merge: " << counts.note << '\n';
    if (!aacName.isEmpty() && counts.audioPackets == 0 && counts.audioLeft == 0)
        return fail("merge: no sound taken from " + aac.display() +
                    (counts.audioStream ? QStringLiteral(" (it holds no packets)")
                                        : QStringLiteral(" (no AAC stream in it)")));
    out() << QStringLiteral("wrote %1 video and %2 audio packets to %3")
                 .arg(counts.videoPackets)
                 .arg(counts.audioPackets)
                 .arg(mp4);
    if (counts.audioLeft > 0)
        out() << QStringLiteral("; %1 audio packets after the end of the video were not written (the merge "
                                "ends with the input whose turn it is)")
                     .arg(counts.audioLeft);
    out() << '\n' << Qt::flush;
    return 0;
}

int info(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Prints what ffprobe finds in FILE: its format and streams.");
    const QCommandLineOption json("json", "Print it as JSON.");
    parser.addOption(json);
    if (const int done = parseCommand(parser, "info", arguments, {"FILE"}); done >= 0)
        return done;
    ArgumentPath path(parser.positionalArguments().at(1));
    if (const QString reason = path.notAFileReason(false); !reason.isEmpty())
        return fail("info: " + reason);
    const QString file = path.openName();

    FFmpegTool tool;
    QEventLoop loop;
    bool done = false;
    QString failure;
    QObject::connect(&tool, &FFmpegTool::receiveData,
                     [](const QString &data) { out() << data << Qt::flush; });
    QObject::connect(&tool, &FFmpegTool::processFailed, [&](const QString &message) { failure = message; });
    QObject::connect(&tool, &FFmpegTool::finished, [&] {
        done = true;
        loop.quit();
    });
    tool.getMediaInfo(file, parser.isSet(json));
    if (!done)
        loop.exec();
    if (!failure.isEmpty())
        return fail("info: " + failure);
    // ffprobe has said why on standard error already.
    return tool.exitCode() == 0 ? 0 : Failed;
}

struct Command
{
    const char *name;
    const char *summary;
    int (*run)(const QStringList &arguments);
};

// New commands go here.
const Command commands[] = {
    {"merge", "merge H264 AAC MP4: raw H.264 and ADTS AAC into one MP4 file, without re-encoding", merge},
    {"info", "info FILE [--json]: the format and streams of a media file (through ffprobe)", info},
    {"play", "play URL [--audio] [--seconds N]: plays an input without a window and counts what came out",
     PlayCommand::run},
    {"record", "record URL DIR [--seconds N] [--slice S] [--raw] [--audio]: a network stream into files",
     RecordCommand::run},
};

QString commandList()
{
    QString text = QStringLiteral("\nCommands (tarn-tool COMMAND --help for each):\n");
    for (const Command &command : commands)
        text += QStringLiteral("  %1  %2\n").arg(QString::fromLatin1(command.name), -6).arg(command.summary);
    return text;
}
} // namespace

namespace ToolCommandLine {

qint64 milliseconds(const QString &seconds, qint64 minimumMs, qint64 maximumMs)
{
    bool ok = false;
    const double value = seconds.trimmed().toDouble(&ok);
    // Compared as doubles first: NaN fails every comparison, and nothing huge reaches the conversion.
    if (!ok || !(value * 1000 >= double(minimumMs) - 0.5 && value * 1000 <= double(maximumMs) + 0.5))
        return -1;
    const qint64 ms = qint64(std::llround(value * 1000));
    return ms >= minimumMs && ms <= maximumMs ? ms : -1;
}

int fail(const QString &line, int code)
{
    QTextStream(stderr) << "tarn-tool: " << line << '\n';
    return code;
}

int run(const QStringList &arguments)
{
    QCoreApplication::setApplicationName(QStringLiteral("tarn-tool"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription("The Tarn Player media tool.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption verbose("verbose", "Show the tool's log lines and FFmpeg's messages.");
    parser.addOption(verbose);
    parser.addPositionalArgument("command", "The command to run, see below.", "COMMAND [options] ...");
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(arguments))
        return fail(parser.errorText(), BadUsage);
    if (parser.isSet(version)) {
        out() << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << '\n'
              << Qt::flush;
        return 0;
    }
    if (parser.isSet(help)) {
        out() << parser.helpText() << commandList() << Qt::flush;
        return 0;
    }
    const QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return fail("no command given; see tarn-tool --help", BadUsage);

    // Quiet unless asked: QT_LOGGING_RULES still wins over this for the tool's own lines.
    if (!parser.isSet(verbose)) {
        QLoggingCategory::setFilterRules(QStringLiteral("tarn.tool.debug=false\ntarn.media*.debug=false"));
        av_log_set_level(AV_LOG_QUIET);
    }
    for (const Command &command : commands) {
        if (rest.first() == QLatin1String(command.name))
            return command.run(rest.mid(1));
    }
    return fail(QStringLiteral("unknown command '%1'; see tarn-tool --help").arg(rest.first()), BadUsage);
}

} // namespace ToolCommandLine
