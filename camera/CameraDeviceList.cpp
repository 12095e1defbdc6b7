#include "camera/CameraDeviceList.h"

#include <QCameraInfo>

#ifndef Q_OS_WIN
#include "capture/V4l2DeviceDirectory.h"

#include <algorithm>
#endif

QList<CameraDevice> listCameraDevices()
{
    QList<CameraDevice> devices;
    const auto cameras = QCameraInfo::availableCameras(QCamera::UnspecifiedPosition);
    for (const QCameraInfo &info : cameras)
        devices.append({info.deviceName(), info.description(), info.position()});
#ifndef Q_OS_WIN
    for (const V4l2DeviceDirectory::Node &node : V4l2DeviceDirectory().nodes()) {
        if (node.index != 0)
            continue;
        const bool listed = std::any_of(devices.begin(), devices.end(), [&](const CameraDevice &device) {
            return device.deviceName == node.devicePath;
        });
        if (!listed)
            devices.append({node.devicePath, node.cardName, QCamera::UnspecifiedPosition});
    }
#endif
    return devices;
}
