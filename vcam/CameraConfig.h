#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a virtual camera is, read from the environment of the process it is loaded into:
//   TARN_VCAM_PROFILE  the kind of camera: thermal (default), generic-thermal, webcam, no-product, y16
//   TARN_VCAM_CAMERAS  several at once, a comma-separated list of profiles ("webcam,thermal"); each
//                      takes two node numbers in order, its capture node and its metadata node
//   TARN_VCAM_NODE     number N of the first node /dev/videoN (0)
//   TARN_VCAM_FPS      frames per second (25)
// and, for the thermal profile:
//   TARN_VCAM_CARD     card name ("Tarn Thermal: UVC Camera", uvcvideo's "<product>: <function>")
//   TARN_VCAM_FORMAT   YUYV, MJPEG or GREY: the format it starts with and lists first (YUYV)
//   TARN_VCAM_SIZE     its one frame size, WIDTHxHEIGHT (640x512)
//   TARN_VCAM_SERIAL   USB serial number, or "none" for a device without one (TV2026A0001)
// and for the library itself: TARN_VCAM_FAULT (EACCES or EBUSY: opens fail so, read at each open),
// TARN_VCAM_STAMP (1: every frame carries its capture time in its top rows, FramePainter),
// TARN_VCAM_CONTROL (the control FIFO), TARN_VCAM_WARMUP (Faults). All but the library's own are
// read again at each "plug".
struct CameraConfig
{
    // A format at a frame size; split: YUYV whose bottom half is the scene's temperatures, one 16-bit
    // little-endian value per pixel (kelvin × 64), below the picture in the top half.
    struct Mode
    {
        uint32_t format; // a V4L2 fourcc
        uint32_t width;
        uint32_t height;
        bool split = false;
    };

    std::string profile = "thermal";
    int node = 0;
    std::string card = "Tarn Thermal: UVC Camera";
    // The USB device's strings (empty: it has none) and ids.
    std::string product = "Tarn Thermal";
    std::string manufacturer = "Tarn";
    std::string serial = "TV2026A0001";
    uint16_t vendorId = 0x1209;
    uint16_t productId = 0x0001;
    int port = 1; // on the virtual USB host controller (SysfsTree)
    // Formats in the order ENUM_FMT lists them, each format's sizes in order; the first is the default.
    std::vector<Mode> modes;
    bool commandControls = true; // contrast and saturation, the thermal core's commands
    uint32_t fps = 25;
    std::string controlPath;
    bool stamp = false; // TARN_VCAM_STAMP=1: capture times painted into the picture (FramePainter)

    // The first camera, with the library's own settings.
    static CameraConfig fromEnvironment();
    // Every camera the machine has, in node order.
    static std::vector<CameraConfig> camerasFromEnvironment();
    // The errno an open fails with now (TARN_VCAM_FAULT); 0 when opens succeed.
    static int openError();

private:
    static CameraConfig forProfile(const std::string &profile);
};
