#pragma once
// The camera vendor library's interface: one current camera, selected by name, no handles.
// On Windows the vendor's own UVCCameraSDK library implements it; on Linux camera/v4l2 does, for UVC
// cameras through V4L2.
//
// Threads: open, close, is-open and the size and name queries may come from any thread at any time;
// the commands and the refresh sequence (refresh, get-saturation, get-serial) are serialised by the
// caller's syncMutex.

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
UVC_CAMERA_API bool UVC_CAMERA_OpenUVC(void);
UVC_CAMERA_API void UVC_CAMERA_CloseUVC(void);
UVC_CAMERA_API bool UVC_CAMERA_UVCIsOpen(void);
UVC_CAMERA_API int UVC_CAMERA_GetWidth(void);
UVC_CAMERA_API int UVC_CAMERA_GetHeight(void);
// The name under which the capture layer knows the device; valid until the next call that changes it.
UVC_CAMERA_API const char *UVC_CAMERA_GetFriendlyName(void);
// Command channel: 0 record, 2 tracking, 4 flat-field correction, 5 palette.
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
