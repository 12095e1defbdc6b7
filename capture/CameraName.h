#pragma once

#include <QString>

// How a camera's wanted name meets a V4L2 card name. uvcvideo names a camera "<product>: <function>",
// so the camera another system lists as "UVC Camera" appears here as, say, "Thermal Module: UVC
// Camera". A card name matches the exact wanted name or, when it has a ": ", the part after its last
// one; case counts in both.
class CameraName
{
public:
    static bool matches(const QString &cardName, const QString &wanted);
};
