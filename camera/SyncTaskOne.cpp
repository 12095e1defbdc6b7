#include "camera/SyncTaskOne.h"

#include "app/AppGlobals.h"
#include "camera/CameraLog.h"
#include "camera/MainControl.h"
#include "camera/UVCCameraSDK.h"
#include "media/LogTime.h"

#include <QDebug>
#include <QMutexLocker>
#include <QThread>
#include <QThreadPool>

SyncTaskOne::SyncTaskOne()
{
    setAutoDelete(false);
}

SyncTaskOne::~SyncTaskOne() = default;

void SyncTaskOne::startOnPool()
{
    ++outstanding;
    QThreadPool::globalInstance()->start(this, 0);
}

void SyncTaskOne::cancelAndWait()
{
    while (outstanding > 0) {
        if (QThreadPool::globalInstance()->tryTake(this))
            --outstanding;
        else
            QThread::msleep(1);
    }
}

// Pool thread. Holds syncMutex across the three library calls, so no command talks to the camera
// meanwhile; posts the results under mainControlMutex, so a controller going away receives nothing.
void SyncTaskOne::run()
{
    qCDebug(lcCamera) << "SyncTaskOne: currentThreadId:" << QThread::currentThreadId();
    qCDebug(lcCamera) << DATETIMEMS << " - Ready RefreshProperties";

    double zoom = 0.0;
    QString sn;
    {
        QMutexLocker locker(&syncMutex);
        UVC_CAMERA_RefreshProperties();
        zoom = UVC_CAMERA_GetSaturation() / 10.0;
        sn = QString::fromUtf8(UVC_CAMERA_GetSN());
        qCDebug(lcCamera) << "GetSN: " << sn;
    }
    qCDebug(lcCamera) << DATETIMEMS << " - Finish RefreshProperties";

    {
        QMutexLocker locker(&mainControlMutex);
        if (MainControl *control = mainControl.load()) {
            QMetaObject::invokeMethod(control, "sigUpdateZoomValue", Qt::QueuedConnection,
                                      Q_ARG(qreal, zoom));
            QMetaObject::invokeMethod(control, "sigUpdateSN", Qt::QueuedConnection, Q_ARG(QString, sn));
        }
    }
    --outstanding;
}
