// The vendor library's C interface, answered by the V4L2 camera.
#include "camera/UVCCameraSDK.h"

#include "camera/v4l2/V4l2Camera.h"

int UVC_CAMERA_GetSDKVersion(void)
{
    return V4l2Camera::SdkVersion;
}

int UVC_CAMERA_SelectUVCCamera(const char *name)
{
    if (!name)
        return -1;
    V4l2Camera::instance().select(QByteArray(name));
    return 0;
}

int UVC_CAMERA_SelectUVCDevice(const char *path)
{
    if (!path)
        return -1;
    V4l2Camera::instance().selectDevice(QByteArray(path));
    return 0;
}

int UVC_CAMERA_SelectUVCSerial(const char *serial)
{
    if (!serial)
        return -1;
    V4l2Camera::instance().selectSerial(QByteArray(serial));
    return 0;
}

int UVC_CAMERA_GetLastError(void)
{
    return V4l2Camera::instance().lastError();
}

int UVC_CAMERA_GetMatchCount(void)
{
    return V4l2Camera::instance().matchCount();
}

const char *UVC_CAMERA_GetDevicePath(void)
{
    return V4l2Camera::instance().devicePath();
}

bool UVC_CAMERA_OpenUVC(void)
{
    return V4l2Camera::instance().open();
}

void UVC_CAMERA_CloseUVC(void)
{
    V4l2Camera::instance().close();
}

bool UVC_CAMERA_UVCIsOpen(void)
{
    return V4l2Camera::instance().isOpen();
}

int UVC_CAMERA_GetWidth(void)
{
    return V4l2Camera::instance().width();
}

int UVC_CAMERA_GetHeight(void)
{
    return V4l2Camera::instance().height();
}

const char *UVC_CAMERA_GetFriendlyName(void)
{
    return V4l2Camera::instance().friendlyName();
}

int UVC_CAMERA_SetContrast(int value)
{
    return -V4l2Camera::instance().setContrast(value);
}

int UVC_CAMERA_SetSaturation(int value)
{
    return -V4l2Camera::instance().setSaturation(value);
}

int UVC_CAMERA_RefreshProperties(void)
{
    return V4l2Camera::instance().refresh() ? 0 : -1;
}

int UVC_CAMERA_GetSaturation(void)
{
    return V4l2Camera::instance().saturation();
}

const char *UVC_CAMERA_GetSN(void)
{
    return V4l2Camera::instance().serialNumber();
}
