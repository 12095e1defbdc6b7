#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the virtual camera is, read once from the environment of the process it is loaded into:
//   TARN_VCAM_NODE     number N of its node /dev/videoN (0)
//   TARN_VCAM_CARD     card name ("Tarn Thermal: UVC Camera", uvcvideo's "<product>: <function>")
//   TARN_VCAM_FORMAT   YUYV, MJPEG or GREY: the format it starts with and lists first (YUYV)
//   TARN_VCAM_SIZE     its one frame size, WIDTHxHEIGHT (640x512)
//   TARN_VCAM_FPS      frames per second (25)
//   TARN_VCAM_SERIAL   USB serial number, or "none" for a device without one (TV2026A0001)
//   TARN_VCAM_FAULT    EACCES or EBUSY: opens of the node fail so (read at each open)
//   TARN_VCAM_STAMP    1: every frame carries its capture time in its top rows (FramePainter)
//   TARN_VCAM_CONTROL  path of a FIFO taking the lines "unplug", "plug", "stall", "resume"
// Format, size and rate are read again at each "plug".
struct CameraConfig
{
    int node = 0;
    std::string card = "Tarn Thermal: UVC Camera";
    // The USB device's strings and ids (the card is "<product>: <function>" or made from the ids).
    std::string product = "Tarn Thermal";
    std::string manufacturer = "Tarn";
    uint16_t vendorId = 0x1209;
    uint16_t productId = 0x0001;
    int port = 1;             // on the virtual USB host controller (SysfsTree)
    uint32_t pixelFormat = 0; // a V4L2 fourcc
    uint32_t width = 640;
    uint32_t height = 512;
    uint32_t fps = 25;
    std::string serial = "TV2026A0001";
    std::string controlPath;
    bool stamp = false; // TARN_VCAM_STAMP=1: capture times painted into the picture (FramePainter)

    static CameraConfig fromEnvironment();
    // Every camera the machine has, in node order.
    static std::vector<CameraConfig> camerasFromEnvironment();
    // The errno an open fails with now (TARN_VCAM_FAULT); 0 when opens succeed.
    static int openError();
};
