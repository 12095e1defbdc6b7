#include "camera/SyncTaskOne.h"

#include "camera/CameraLog.h"
#include "camera/UVCCameraSDK.h"
#include "media/LogTime.h"

#include <QDebug>
#include <QThread>

SyncTaskOne::Result SyncTaskOne::run()
{
    qCDebug(lcCamera) << "SyncTaskOne: currentThreadId:" << QThread::currentThreadId();
    qCDebug(lcCamera) << DATETIMEMS << " - Ready RefreshProperties";
    Result result;
    result.ok = UVC_CAMERA_RefreshProperties() == 0;
    result.zoom = UVC_CAMERA_GetSaturation() / 10.0;
    result.sn = QString::fromUtf8(UVC_CAMERA_GetSN());
    qCDebug(lcCamera) << "GetSN: " << result.sn;
    qCDebug(lcCamera) << DATETIMEMS << " - Finish RefreshProperties";
    return result;
}
