#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The tarn-tool program: `tarn-tool COMMAND [options] ...`, one small function per command in one table
// (ToolCommandLine.cpp). Needs a QCoreApplication.
namespace ToolCommandLine {

// Runs the command named in arguments (the program name first) and returns the process exit code: 0 on
// success, 1 when the work failed, 2 for a command line it does not understand. Failures print one line
// on standard error.
int run(const QStringList &arguments);

// The exit codes of every command.
constexpr int Failed = 1;
constexpr int BadUsage = 2;

// A number of seconds given on the command line ("2", "0.5", "1e3") as whole milliseconds, when it is a
// finite number from minimumMs to maximumMs once rounded; -1 otherwise (not a number, NaN, out of range).
qint64 milliseconds(const QString &seconds, qint64 minimumMs, qint64 maximumMs);

// Prints "tarn-tool: LINE" on standard error and returns code: the one line a failing command says.
int fail(const QString &line, int code = Failed);

} // namespace ToolCommandLine
