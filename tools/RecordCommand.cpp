#include "tools/RecordCommand.h"

#include "media/FFmpegThread.h"
#include "media/Recorder.h"
#include "tools/ToolCommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QTextStream>
#include <QTimer>

namespace {
using ToolCommandLine::BadUsage;
using ToolCommandLine::Failed;

int fail(const QString &line, int code = Failed)
{
    return ToolCommandLine::fail(QStringLiteral("record: ") + line, code);
}

int positiveOption(const QCommandLineParser &parser, const QCommandLineOption &option, int minimum, bool &ok)
{
    const int value = parser.value(option).toInt(&ok);
    ok = ok && value >= minimum;
    return value;
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
    const QCommandLineOption seconds("seconds", "Record for N seconds (default 10).", "N", "10");
    const QCommandLineOption slice("slice", "Start a new file every S seconds; 0 (default) records one file.",
                                   "S", "0");
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
    bool ok = false;
    const int recordSeconds = positiveOption(parser, seconds, 1, ok);
    if (!ok)
        return fail("--seconds takes a whole number of seconds, 1 or more", BadUsage);
    const int sliceSeconds = positiveOption(parser, slice, 0, ok);
    if (!ok)
        return fail("--slice takes a whole number of seconds, 0 or more", BadUsage);
    const QString url = given.at(0);
    const QString dir = QFileInfo(given.at(1)).absoluteFilePath();
    if (!writableDirectory(dir))
        return fail("cannot write to " + dir);

    FFmpegThread player;
    player.setUrl(url);
    player.setSaveFile(true);
    player.setSaveMp4(!parser.isSet(raw));
    player.setPlayAudio(parser.isSet(audio));
    player.setSavePath(dir);
    player.setSaveInterval(sliceSeconds);
    player.setFileName(
        Recorder::makeFileName(dir, player.currentSettings().fileFlag, QDateTime::currentDateTime()));

    QEventLoop loop;
    bool openFailed = false;
    bool started = false;
    QStringList files;
    QTimer stopTimer;
    stopTimer.setSingleShot(true);
    QObject::connect(&stopTimer, &QTimer::timeout, &player, &FFmpegThread::stop);
    QObject::connect(&player, &FFmpegThread::saveFileReceive, &loop, [&](const QString &path) {
        files << path;
        QTextStream(stdout) << path << Qt::endl;
    });
    QObject::connect(&player, &FFmpegThread::receivePlayStart, &loop, [&] {
        started = true;
        stopTimer.start(recordSeconds * 1000);
    });
    QObject::connect(&player, &FFmpegThread::receivePlayError, &loop, [&] { openFailed = true; });
    QObject::connect(&player, &FFmpegThread::receivePlayFinsh, &loop, &QEventLoop::quit);
    player.play();
    player.start();
    loop.exec();
    player.wait();
    // The closes the player posted on its way out.
    QCoreApplication::sendPostedEvents();

    if (openFailed || !started)
        return fail("cannot open " + url);
    if (!player.currentSettings().saveFile)
        return fail(url + " is not a network stream; only network streams are recorded");
    if (files.isEmpty())
        return fail("nothing recorded from " + url);
    return 0;
}

} // namespace RecordCommand
