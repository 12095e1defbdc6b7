#pragma once

#include <QString>
#include <QStringList>

// The viewer's command line: --help, --version, --render, the camera choice (--camera NAME, --device
// PATH, --serial SN; at most one of them), --layout and --list-cameras. It lets through the options that
// QGuiApplication and its platform plugin take (-platform, -display, -geometry, -style, ...), so they
// keep working.
struct ViewerCommandLine
{
    enum Action
    {
        Run,         // start the window
        ShowHelp,    // print text on standard output, exit 0
        ShowVersion, // print text on standard output, exit 0
        Reject,      // print text (one line) on standard error, exit 2
    };
    Action action = Run;
    QString text;
};

// The process exit code for a command line that is not understood.
constexpr int kBadCommandLineExitCode = 2;

// Reads ARGUMENTS (the program path first). SUMMARY is the first line of the help text. Needs a
// QCoreApplication (or a QGuiApplication) only when the answer is not Run.
ViewerCommandLine readViewerCommandLine(const QStringList &arguments, const QString &summary);

// ARGV as the list the functions here read; usable before any application object exists.
QStringList viewerArguments(int argc, char *argv[]);

// Answers --help, --version and a command line that is not understood, without a display: a plain
// QCoreApplication is made for the parser. Returns the exit code.
int answerViewerCommandLine(int argc, char *argv[], const char *summary);

// The camera the command line chose, and whether it asked for the list of cameras instead of the window.
struct ViewerCameraChoice
{
    QString name;   // --camera: a card name, as the default "UVC Camera" is matched
    QString device; // --device: /dev/videoN or a link to one under /dev/v4l/
    QString serial; // --serial: the USB serial number
    QString layout; // --layout: "whole", "split" or "auto" (the camera profile's; the default)
    bool listCameras = false;
};
// The choice of ARGUMENTS (which readViewerCommandLine accepted).
ViewerCameraChoice viewerCameraChoice(const QStringList &arguments);

// The --render choice of ARGUMENTS ("software", "opengl"), or "auto" when none is given.
QString viewerRenderChoice(const QStringList &arguments);

// Whether ARGUMENTS ask for anything but Run; usable before any application object exists.
bool viewerCommandLineNeedsAnswer(const QStringList &arguments);

// The environment variables that matter to every program of the project, for the end of --help.
QString environmentHelp();
