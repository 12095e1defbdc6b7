#pragma once
// The process-wide objects shared by the window, the camera session and the player. All are created
// during static initialisation, before main() runs.

#include <QMutex>
#include <QString>

#include <atomic>
#include <string>

class FFmpegThread;
class FameProvider;
class MainControl;

// The one frame provider; published to QML as "frameProvider". Never deleted.
extern FameProvider *frameProvider;
// The one player thread object, not started. Never deleted.
extern FFmpegThread *ffmpegThread;
// The vendor library's name for our camera, and the description we look for among attached cameras.
extern std::string uvcCameraName;
extern QString uvcCameraDescription;
// The camera the command line chose instead: a node path (--device) or a USB serial number (--serial);
// empty when it chose none. Set before the window is made.
extern QString uvcCameraDevice;
extern QString uvcCameraSerial;
// The --layout choice: "auto" (the camera profile's), "whole" or "split". Set before the window is made.
extern QString uvcCameraLayout;
// The session controller of the window. Set by the first controller that starts connecting; cleared
// by that controller's destructor, under mainControlMutex.
extern std::atomic<MainControl *> mainControl;
extern QMutex mainControlMutex;
