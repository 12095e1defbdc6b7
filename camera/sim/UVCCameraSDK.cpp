// The vendor library's C interface, answered by the simulated camera.
#include "camera/UVCCameraSDK.h"

#include "camera/sim/SimulatedCamera.h"

int UVC_CAMERA_GetSDKVersion(void)
{
    return SimulatedCamera::SdkVersion;
}

int UVC_CAMERA_SelectUVCCamera(const char *name)
{
    if (!name)
        return -1;
    SimulatedCamera::instance().select(QByteArray(name));
    return 0;
}

bool UVC_CAMERA_OpenUVC(void)
{
    return SimulatedCamera::instance().open();
}

void UVC_CAMERA_CloseUVC(void)
{
    SimulatedCamera::instance().close();
}

bool UVC_CAMERA_UVCIsOpen(void)
{
    return SimulatedCamera::instance().isOpen();
}

int UVC_CAMERA_GetWidth(void)
{
    return SimulatedCamera::instance().width();
}

int UVC_CAMERA_GetHeight(void)
{
    return SimulatedCamera::instance().height();
}

const char *UVC_CAMERA_GetFriendlyName(void)
{
    return SimulatedCamera::instance().friendlyName();
}

int UVC_CAMERA_SetContrast(int value)
{
    return SimulatedCamera::instance().setContrast(value) ? 0 : -1;
}

int UVC_CAMERA_SetSaturation(int value)
{
    return SimulatedCamera::instance().setSaturation(value) ? 0 : -1;
}

int UVC_CAMERA_RefreshProperties(void)
{
    return SimulatedCamera::instance().refresh() ? 0 : -1;
}

int UVC_CAMERA_GetSaturation(void)
{
    return SimulatedCamera::instance().saturation();
}

const char *UVC_CAMERA_GetSN(void)
{
    return SimulatedCamera::instance().serialNumber();
}
