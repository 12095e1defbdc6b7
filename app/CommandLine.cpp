#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

// Options that Qt itself reads from the command line of a GUI program (QGuiApplication, the xcb
// platform plugin, Qt Quick Controls 2). They are accepted and hidden from the help.
struct QtOption
{
    const char *name;
    bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},      {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},
    {"qmljsdebugger", true}, {"qwindowgeometry", true},
    {"geometry", true},      {"qwindowtitle", true},
    {"title", true},         {"qwindowicon", true},
    {"icon", true},          {"session", true},
    {"display", true},       {"name", true},
    {"style", true},         {"reverse", false},
    {"nograb", false},       {"dograb", false},
    {"testability", false},
};

const QStringList kRenderRoads{QStringLiteral("auto"), QStringLiteral("opengl"), QStringLiteral("software")};

// TEXT broken into lines of at most WIDTH characters at spaces.
QString wrapped(const QString &text, int width = 78)
{
    QString result;
    int lineLength = 0;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (lineLength > 0 && lineLength + 1 + word.size() > width) {
            result += QLatin1Char('\n');
            lineLength = 0;
        } else if (lineLength > 0) {
            result += QLatin1Char(' ');
            ++lineLength;
        }
        result += word;
        lineLength += word.size();
    }
    return result;
}

void configure(QCommandLineParser &parser, const QString &summary)
{
    // Qt's own options are single-dash words (-platform offscreen), so single-dash words are long options.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(wrapped(summary));
    // Like addHelpOption(), without its --help-all: the viewer has no Qt options worth listing.
    parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                                        QStringLiteral("Displays this help and exits.")));
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        QStringLiteral("render"),
        QStringLiteral("How the window draws: opengl (VideoOutput, for a GPU), software (Qt Quick's "
                       "software renderer, cheaper where OpenGL is a software rasteriser such as "
                       "llvmpipe), or auto (the default: software where OpenGL is a software rasteriser "
                       "or missing, else opengl; QT_QUICK_BACKEND=software also chooses software)."),
        QStringLiteral("road"), QStringLiteral("auto")));
    for (const QtOption &qt : kQtOptions) {
        QCommandLineOption option(QString::fromLatin1(qt.name));
        if (qt.takesValue)
            option.setValueName(QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

enum class Outcome
{
    Run,
    Help,
    Version,
    Error
};

Outcome outcome(QCommandLineParser &parser, const QStringList &arguments)
{
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty())
        return Outcome::Error;
    if (!kRenderRoads.contains(parser.value(QStringLiteral("render"))))
        return Outcome::Error;
    if (parser.isSet(QStringLiteral("help")))
        return Outcome::Help;
    if (parser.isSet(QStringLiteral("version")))
        return Outcome::Version;
    return Outcome::Run;
}

// The error as the user typed it: "unknown option '--bogus'" rather than the parser's "'bogus'".
QString describeError(const QCommandLineParser &parser, const QStringList &arguments)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        const QString name = unknown.first();
        for (const QString &argument : arguments.mid(1)) {
            if (argument == QLatin1Char('-') + name || argument == QStringLiteral("--") + name ||
                argument.startsWith(QStringLiteral("--") + name + QLatin1Char('=')) ||
                argument.startsWith(QLatin1Char('-') + name + QLatin1Char('=')))
                return QStringLiteral("unknown option '%1'").arg(argument.section(QLatin1Char('='), 0, 0));
        }
        return QStringLiteral("unknown option '%1'").arg(name);
    }
    if (parser.isSet(QStringLiteral("render")) &&
        !kRenderRoads.contains(parser.value(QStringLiteral("render"))))
        return QStringLiteral("--render takes auto, opengl or software, not '%1'")
            .arg(parser.value(QStringLiteral("render")));
    if (!parser.errorText().isEmpty()) {
        QString error = parser.errorText();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        return error;
    }
    return QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().value(0));
}

} // namespace

QString environmentHelp()
{
    return QStringLiteral(
        "Environment:\n"
        "  QT_LOGGING_RULES  Which log messages are written to standard error, as Qt logging rules\n"
        "                    separated by ';'. The log categories are tarn.media (the player),\n"
        "                    tarn.media.interrupt (stalled inputs), tarn.camera (the camera session)\n"
        "                    and default (everything else). Examples:\n"
        "                      QT_LOGGING_RULES='*.debug=false'        quiet: warnings only\n"
        "                      QT_LOGGING_RULES='tarn.camera.debug=true' the camera session in detail\n"
        "  QT_QPA_PLATFORM   The display platform, e.g. xcb, wayland or offscreen.\n"
        "  QT_QUICK_BACKEND  software: draw with Qt Quick's software renderer (as --render software).");
}

QString viewerRenderChoice(const QStringList &arguments)
{
    QCommandLineParser parser;
    configure(parser, QString());
    if (outcome(parser, arguments) != Outcome::Run)
        return QStringLiteral("auto");
    return parser.value(QStringLiteral("render"));
}

bool viewerCommandLineNeedsAnswer(const QStringList &arguments)
{
    QCommandLineParser parser;
    configure(parser, QString());
    return outcome(parser, arguments) != Outcome::Run;
}

ViewerCommandLine readViewerCommandLine(const QStringList &arguments, const QString &summary)
{
    QCommandLineParser parser;
    configure(parser, summary);
    const QString program = QFileInfo(arguments.value(0)).fileName();
    ViewerCommandLine result;
    switch (outcome(parser, arguments)) {
    case Outcome::Run:
        break;
    case Outcome::Help:
        result.action = ViewerCommandLine::ShowHelp;
        result.text = parser.helpText() + QLatin1Char('\n') + environmentHelp() + QLatin1Char('\n');
        break;
    case Outcome::Version:
        result.action = ViewerCommandLine::ShowVersion;
        result.text = program + QLatin1Char(' ') + QCoreApplication::applicationVersion() + QLatin1Char('\n');
        break;
    case Outcome::Error:
        result.action = ViewerCommandLine::Reject;
        result.text =
            QStringLiteral("%1: %2; see '%1 --help'\n").arg(program, describeError(parser, arguments));
        break;
    }
    return result;
}

QStringList viewerArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int answerViewerCommandLine(int argc, char *argv[], const char *summary)
{
    QCoreApplication core(argc, argv);
    const ViewerCommandLine command = readViewerCommandLine(core.arguments(), QString::fromUtf8(summary));
    const QByteArray text = command.text.toLocal8Bit();
    if (command.action == ViewerCommandLine::Reject) {
        std::fputs(text.constData(), stderr);
        return kBadCommandLineExitCode;
    }
    std::fputs(text.constData(), stdout);
    return 0;
}
