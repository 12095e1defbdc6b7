#pragma once

#include <QStringList>

// tarn-tool play URL [--audio] [--seconds N]: plays an input through the player with no window (its sound
// on the default output with --audio) and prints, when it ends, the frames delivered, the seconds of audio
// written and whether the audio output started. Exit 0 when it played, 1 when the input did not open, 2 on
// a bad command line.
namespace PlayCommand {
int run(const QStringList &arguments);
}
