#pragma once

// tarn-player-sim: the viewer on the virtual UVC camera, for people without a camera. It answers its
// command line as the viewer does (--help, --version, one line and exit code 2 for what it does not
// understand), all without a display. Otherwise it finds the virtual camera library beside itself (the
// install tree's private library folder, or lib/ of the build tree), puts it in front of LD_PRELOAD
// and replaces itself with tarn-player from its own folder, with the same arguments: the viewer then
// finds a thermal camera at /dev/video0. Nothing needs to be set beforehand.
class VirtualCameraLauncher
{
public:
    // SUMMARY opens the help text. Returns the exit code when it does not become tarn-player: 0 after
    // --help or --version, 2 for a command line it does not understand, 1 when the library or the viewer
    // is missing or cannot be started (one line on standard error).
    static int run(int argc, char *argv[], const char *summary);
};
