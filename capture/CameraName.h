#pragma once

#include <QString>

// How a camera's wanted name meets a V4L2 card name. uvcvideo names a camera "<product>: <function>",
// so the camera another system lists as "UVC Camera" appears here as, say, "Thermal Module: UVC
// Camera"; a camera without a product string is "UVC Camera (vvvv:pppp)"; and the whole card name is
// cut at 31 characters (the size of the kernel's field less its terminating zero). A card name
// matches when it is the wanted name, when the part after its last ": " is, when it is the wanted
// name followed by " (vvvv:pppp)", or, for a card name of exactly 31 characters, when the wanted name
// begins with the card name or with the part after its last ": ". Case counts everywhere.
class CameraName
{
public:
    // The length uvcvideo cuts card names to.
    static constexpr int kCutLength = 31;

    static bool matches(const QString &cardName, const QString &wanted);
};
