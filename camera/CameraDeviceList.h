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

// The video inputs the camera search lists: what the multimedia layer lists and, on Linux, beside it
// every V4L2 capture node the kernel lists in sysfs (the multimedia layer's list may be empty or
// late, as it is without a GStreamer camera source). A node both know is listed once. Main thread.
QList<CameraDevice> listCameraDevices();
