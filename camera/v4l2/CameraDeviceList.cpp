// With real cameras the search sees exactly what the multimedia layer lists.
#include "camera/CameraDeviceList.h"

QList<CameraDevice> listCameraDevices()
{
    return systemCameraDevices();
}
