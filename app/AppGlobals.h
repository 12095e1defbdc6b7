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
// Serialises camera commands (tried) against the property refresh (locked).
extern QMutex syncMutex;
// The vendor library's name for our camera, and the description we look for among attached cameras.
extern std::string uvcCameraName;
extern QString uvcCameraDescription;
// The session controller that pool threads post to. Set by the first controller that starts
// connecting; cleared by that controller's destructor. Pool threads read it and post under
// mainControlMutex, so nothing is posted to a controller that is going away.
extern std::atomic<MainControl *> mainControl;
extern QMutex mainControlMutex;
