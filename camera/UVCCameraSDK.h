#pragma once
// The camera vendor library's interface: one current camera, selected by name, no handles.
// On Windows the vendor's own UVCCameraSDK library implements it; on Linux camera/v4l2 does, for UVC
// cameras through V4L2.
//
// Threads: any thread may call any function; the library serialises what talks to the device, and a
// call may wait for the device (uvcvideo gives a control request 5 s). The viewer makes every call
// that may wait on one thread of its own, the camera worker.

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

#if defined(_WIN32)
#define UVC_CAMERA_API __declspec(dllimport)
#else
#define UVC_CAMERA_API
#endif

UVC_CAMERA_API int UVC_CAMERA_GetSDKVersion(void);
// Chooses the device (by its name) that the later calls act on.
UVC_CAMERA_API int UVC_CAMERA_SelectUVCCamera(const char *name);
// Chooses the device by its node path (/dev/video2) or a link to one (/dev/v4l/by-id/...) instead.
UVC_CAMERA_API int UVC_CAMERA_SelectUVCDevice(const char *path);
// Chooses the device by the serial number of its USB device instead.
UVC_CAMERA_API int UVC_CAMERA_SelectUVCSerial(const char *serial);
UVC_CAMERA_API bool UVC_CAMERA_OpenUVC(void);
UVC_CAMERA_API void UVC_CAMERA_CloseUVC(void);
UVC_CAMERA_API bool UVC_CAMERA_UVCIsOpen(void);
// Why the last OpenUVC failed, an errno: ENOENT when no device matched, EACCES, EBUSY, ...; 0 after a
// successful one.
UVC_CAMERA_API int UVC_CAMERA_GetLastError(void);
// How many devices matched the selection at the last OpenUVC; the lowest-numbered one is opened.
UVC_CAMERA_API int UVC_CAMERA_GetMatchCount(void);
// The open device's node, which the capture layer is to open ("/dev/video0"); after a failed open the
// node that failed, if one did; else "".
UVC_CAMERA_API const char *UVC_CAMERA_GetDevicePath(void);
UVC_CAMERA_API int UVC_CAMERA_GetWidth(void);
UVC_CAMERA_API int UVC_CAMERA_GetHeight(void);
// The name under which the capture layer knows the device; valid until the next call that changes it.
UVC_CAMERA_API const char *UVC_CAMERA_GetFriendlyName(void);
// Command channel: 0 record, 2 tracking, 4 flat-field correction, 5 palette. The setters return 0
// when the camera took the value, else a negative errno (-ENODEV: not open; -ERANGE: outside the
// control's range, not sent; else the device's answer).
UVC_CAMERA_API int UVC_CAMERA_SetContrast(int value);
// Zoom factor in tenths (10 = 1.0X .. 40 = 4.0X).
UVC_CAMERA_API int UVC_CAMERA_SetSaturation(int value);
// Afterwards the getters below return the camera's current values.
UVC_CAMERA_API int UVC_CAMERA_RefreshProperties(void);
UVC_CAMERA_API int UVC_CAMERA_GetSaturation(void);
// UTF-8 serial number; valid until the next refresh.
UVC_CAMERA_API const char *UVC_CAMERA_GetSN(void);

#ifdef __cplusplus
}
#endif
