#include "app/AppGlobals.h"

#include "media/FFmpegThread.h"
#include "presentation/ConnectCenter.h"
#include "presentation/FameProvider.h"

// Definition order is construction order: uvcCameraDescription is copied from uvcCameraName.
FameProvider *frameProvider = new FameProvider;
FFmpegThread *ffmpegThread = new FFmpegThread;
std::string uvcCameraName = "UVC Camera";
QString uvcCameraDescription = QString::fromStdString(uvcCameraName);
QString uvcCameraDevice;
QString uvcCameraSerial;
QString uvcCameraLayout = QStringLiteral("auto");
std::atomic<MainControl *> mainControl{nullptr};
QMutex mainControlMutex;

static ConnectCenter connectCenter;
