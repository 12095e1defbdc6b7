#pragma once

#include <QString>
#include <QStringList>

// The viewer's command line. Besides --help, --version and --render it takes no options of its own, but it
// lets through the options that QGuiApplication and its platform plugin take (-platform, -display, -geometry,
// -style, ...), so they keep working.
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

// The --render choice of ARGUMENTS ("software", "opengl"), or "auto" when none is given.
QString viewerRenderChoice(const QStringList &arguments);

// Whether ARGUMENTS ask for anything but Run; usable before any application object exists.
bool viewerCommandLineNeedsAnswer(const QStringList &arguments);

// The environment variables that matter to every program of the project, for the end of --help.
QString environmentHelp();
