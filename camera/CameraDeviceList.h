#pragma once

#include <QCamera>
#include <QList>
#include <QString>

// One attached video input as the camera search sees it.
struct CameraDevice
{
    QString deviceName;
    QString description;
    QCamera::Position position = QCamera::UnspecifiedPosition;
};

// The video inputs the camera search lists. The camera library the program links implements it:
// camera/v4l2 returns the multimedia layer's list; camera/sim adds the simulated camera to that list
// while it is plugged in. Main thread.
QList<CameraDevice> listCameraDevices();

// The multimedia layer's own list (QCameraInfo::availableCameras()).
QList<CameraDevice> systemCameraDevices();
