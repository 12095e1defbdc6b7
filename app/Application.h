#pragma once

// The main routine: high-DPI scaling, the GUI application, the QML engine with the application's types
// and the "frameProvider" context property, the window "qrc:/main.qml" and the event loop.
// Returns the event loop's exit code, or -1 when the window document cannot be created.
int runApplication(int argc, char *argv[]);
