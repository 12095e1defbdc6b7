// The system's cameras, plus the simulated camera while it is plugged in.
#include "camera/CameraDeviceList.h"

#include "camera/sim/SimulatedCamera.h"

QList<CameraDevice> listCameraDevices()
{
    QList<CameraDevice> devices = systemCameraDevices();
    SimulatedCamera &camera = SimulatedCamera::instance();
    if (camera.isPluggedIn())
        devices.append(
            {camera.socketPath(), QString::fromLatin1(SimulatedCamera::Name), QCamera::UnspecifiedPosition});
    return devices;
}
