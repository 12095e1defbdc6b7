#include "camera/CameraDeviceList.h"

#include <QCameraInfo>

QList<CameraDevice> systemCameraDevices()
{
    QList<CameraDevice> devices;
    const auto cameras = QCameraInfo::availableCameras(QCamera::UnspecifiedPosition);
    for (const QCameraInfo &info : cameras)
        devices.append({info.deviceName(), info.description(), info.position()});
    return devices;
}
