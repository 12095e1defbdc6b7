#pragma once

// Registers the application's own QML types (the camera session controller, module "MainControl" 1.0).
// Main thread, after the engine exists and before the window document is loaded.
void registerQmlTypes();
