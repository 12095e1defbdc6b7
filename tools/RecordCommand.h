#pragma once

#include <QStringList>

// `tarn-tool record URL DIR [--seconds N] [--slice S] [--raw] [--audio]`: plays URL through the player
// with no window and records it into DIR with the player's own recording, printing each file's path as
// it is closed. Returns the exit code (0 recorded, 1 failed, 2 bad command line); a failure prints one
// line on standard error. Needs a QCoreApplication.
namespace RecordCommand {

int run(const QStringList &arguments);

} // namespace RecordCommand
