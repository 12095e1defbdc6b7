// With real cameras the search sees what the multimedia layer lists and, beside it, every V4L2
// capture node the kernel lists in sysfs (the multimedia layer's list may be empty or late, as it
// is without a GStreamer camera source). A node both know is listed once.
#include "camera/CameraDeviceList.h"

#include "capture/V4l2DeviceDirectory.h"

#include <algorithm>

QList<CameraDevice> listCameraDevices()
{
    QList<CameraDevice> devices = systemCameraDevices();
    for (const V4l2DeviceDirectory::Node &node : V4l2DeviceDirectory().nodes()) {
        if (node.index != 0)
            continue;
        const bool listed = std::any_of(devices.begin(), devices.end(), [&](const CameraDevice &device) {
            return device.deviceName == node.devicePath;
        });
        if (!listed)
            devices.append({node.devicePath, node.cardName, QCamera::UnspecifiedPosition});
    }
    return devices;
}
