#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

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
const QStringList kLayouts{QStringLiteral("auto"), QStringLiteral("whole"), QStringLiteral("split")};

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
    parser.addOption(QCommandLineOption(
        QStringLiteral("camera"),
        QStringLiteral("Open the camera whose V4L2 card name is NAME, or whose card name ends in \": NAME\" "
                       "(as uvcvideo names cameras), or begins NAME where uvcvideo cut it at 31 "
                       "characters. The default is \"UVC Camera\". With several, the lowest node."),
        QStringLiteral("name")));
    parser.addOption(
        QCommandLineOption(QStringLiteral("device"),
                           QStringLiteral("Open the camera at PATH: /dev/videoN or a link to it such as "
                                          "/dev/v4l/by-id/usb-...-video-index0."),
                           QStringLiteral("path")));
    parser.addOption(QCommandLineOption(QStringLiteral("serial"),
                                        QStringLiteral("Open the camera whose USB serial number is SN."),
                                        QStringLiteral("sn")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("layout"),
        QStringLiteral("How the camera's frame is laid out: whole (the frame is the picture), split (the "
                       "picture over one 16-bit temperature per pixel, kelvin x 64, in a frame twice its "
                       "height: the viewer draws the picture from the temperatures and reads them; it asks "
                       "for such a size when the camera offers one), or auto (the default: as the camera's "
                       "profile says, e.g. split for a \"USB Camera\" that offers YUYV 256x384)."),
        QStringLiteral("layout"), QStringLiteral("auto")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("list-cameras"),
        QStringLiteral("Print each capture camera (node, card name, serial number, formats and sizes, and "
                       "the layout the viewer takes for it) and exit.")));
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

// What is wrong with the camera choice, or "" when nothing is.
QString choiceError(const QCommandLineParser &parser)
{
    const QString camera = QStringLiteral("camera"), device = QStringLiteral("device"),
                  serial = QStringLiteral("serial");
    const int chosen = int(parser.isSet(camera)) + int(parser.isSet(device)) + int(parser.isSet(serial));
    if (chosen > 1)
        return QStringLiteral("choose the camera with one of --camera, --device and --serial");
    for (const QString &name : {camera, device, serial}) {
        if (parser.values(name).size() > 1)
            return QStringLiteral("--%1 is given more than once").arg(name);
    }
    if (parser.isSet(camera) && parser.value(camera).trimmed().isEmpty())
        return QStringLiteral("--camera takes a camera's name, not an empty one");
    if (parser.isSet(serial) && (parser.value(serial).isEmpty() ||
                                 parser.value(serial).contains(QRegularExpression(QStringLiteral("\\s")))))
        return QStringLiteral("--serial takes a serial number without blanks, not '%1'")
            .arg(parser.value(serial));
    static const QRegularExpression node(QStringLiteral("^/dev/(video[0-9]+|v4l/.+)$"));
    if (parser.isSet(device) && !node.match(parser.value(device)).hasMatch())
        return QStringLiteral("--device takes /dev/videoN or a link under /dev/v4l/, not '%1'")
            .arg(parser.value(device));
    return {};
}

Outcome outcome(QCommandLineParser &parser, const QStringList &arguments)
{
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty())
        return Outcome::Error;
    if (!kRenderRoads.contains(parser.value(QStringLiteral("render"))))
        return Outcome::Error;
    if (!kLayouts.contains(parser.value(QStringLiteral("layout"))))
        return Outcome::Error;
    if (!choiceError(parser).isEmpty())
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
    if (parser.isSet(QStringLiteral("layout")) && !kLayouts.contains(parser.value(QStringLiteral("layout"))))
        return QStringLiteral("--layout takes auto, whole or split, not '%1'")
            .arg(parser.value(QStringLiteral("layout")));
    if (!choiceError(parser).isEmpty())
        return choiceError(parser);
    if (!parser.errorText().isEmpty()) {
        QString error = parser.errorText();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        return error;
    }
    return QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().value(0));
}

// The window's keys and where its files go, for the end of --help.
QString windowHelp()
{
    return QStringLiteral(
        "Keys:\n"
        "  1 2 3 4         record, palette, tracking, flat-field correction (the four buttons)\n"
        "  + and -         zoom in and out by 0.1X (the mouse wheel over the picture too)\n"
        "  S               snapshot: the picture at the camera's resolution, as PNG\n"
        "  R               start a clip of the camera's picture (H.264 in MP4); R again ends it\n"
        "  A               the picture's shape: stretched over the pane, or kept (black bars)\n"
        "  F11, Esc        full screen on and off; Esc leaves it\n"
        "  Menu key        the menu (or a right click on the picture)\n"
        "  Tab, Space      move between the buttons and the zoom, and press the focused one\n"
        "  Ctrl+Q          quit\n"
        "  On a split thermal camera: a click on the picture pins a spot (Esc removes it); U switches\n"
        "  the temperatures between degrees C and F; a snapshot also saves the temperatures (.csv\n"
        "  in degrees C and -raw16.png, kelvin x 64)\n"
        "\n"
        "Files:\n"
        "  snapshots       <pictures folder>/Tarn Player/<date> <time>.png (the pictures folder is\n"
        "                  XDG_PICTURES_DIR of ~/.config/user-dirs.dirs, else ~/Pictures)\n"
        "  clips           <videos folder>/Tarn Player/<date> <time>.mp4 (XDG_VIDEOS_DIR, else\n"
        "                  ~/Videos)\n"
        "  settings        ~/.config/tarn-player/viewer.ini: the picture's shape and full screen\n");
}

} // namespace

QString environmentHelp()
{
    return QStringLiteral(
        "Camera:\n"
        "  The window says over the picture what the camera session is doing: searching, opening,\n"
        "  no permission, busy, waiting for the first picture, picture lost, reconnecting. A picture\n"
        "  that has stopped is dimmed. If the camera cannot be opened for lack of permission, add\n"
        "  yourself to the video group: sudo adduser $USER video, then log out and in again.\n"
        "\n"
        "Environment:\n"
        "  QT_LOGGING_RULES  Which log messages are written to standard error, as Qt logging rules\n"
        "                    separated by ';'. The log categories are tarn.media (the player),\n"
        "                    tarn.media.interrupt (stalled inputs), tarn.camera (the camera session),\n"
        "                    tarn.thermal (the temperatures of split thermal cameras), tarn.ffmpeg\n"
        "                    (FFmpeg's own messages, off unless asked for) and default (everything\n"
        "                    else). Examples:\n"
        "                      QT_LOGGING_RULES='*.debug=false'        quiet: warnings only\n"
        "                      QT_LOGGING_RULES='tarn.camera.debug=true' the camera session in detail\n"
        "                      QT_LOGGING_RULES='tarn.ffmpeg.debug=true' FFmpeg's messages back\n"
        "  QT_QPA_PLATFORM   The display platform, e.g. xcb, wayland or offscreen.\n"
        "  QT_QUICK_BACKEND  software: draw with Qt Quick's software renderer (as --render software).");
}

ViewerCameraChoice viewerCameraChoice(const QStringList &arguments)
{
    QCommandLineParser parser;
    configure(parser, QString());
    ViewerCameraChoice choice;
    if (outcome(parser, arguments) != Outcome::Run)
        return choice;
    choice.name = parser.value(QStringLiteral("camera"));
    choice.device = parser.value(QStringLiteral("device"));
    choice.serial = parser.value(QStringLiteral("serial"));
    choice.layout = parser.value(QStringLiteral("layout"));
    choice.listCameras = parser.isSet(QStringLiteral("list-cameras"));
    return choice;
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
        result.text = parser.helpText() + QLatin1Char('\n') + windowHelp() + QLatin1Char('\n') +
                      environmentHelp() + QLatin1Char('\n');
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
