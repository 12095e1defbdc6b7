#pragma once

// The main routine. First the command line: --help and --version are answered, and an option that is
// not understood is named on one line with exit code 2, all without opening a display; Qt's own options
// (-platform, -display, ...) are let through. Then high-DPI scaling, the GUI application, the QML engine
// with the application's types and the "frameProvider" context property, the window "qrc:/main.qml" and
// the event loop. SUMMARY opens the help text. Returns the exit code: the event loop's, or -1 when the
// window document cannot be created.
int runApplication(int argc, char *argv[], const char *summary);
