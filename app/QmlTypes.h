#pragma once

class QQmlContext;

// Registers the application's own QML types (the camera session controller, module "MainControl" 1.0).
// Main thread, after the engine exists and before the window document is loaded.
void registerQmlTypes();

// Gives the window document the process-wide objects it reads: "frameProvider" and "viewerSettings"
// (the settings made at the first call, kept until the process exits). Main thread, before the window
// document is loaded.
void publishWindowObjects(QQmlContext *context);
