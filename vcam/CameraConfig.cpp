#include "CameraConfig.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <linux/videodev2.h>
#include <strings.h>

namespace {
const char *env(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// uvcvideo's card name: the product string and the function, cut to the 31 characters it keeps.
std::string cardOf(const std::string &product, const std::string &function)
{
    return (product + ": " + function).substr(0, 31);
}

// Today's thermal core, as the variables make it: one size, the configured format first.
void thermal(CameraConfig &config)
{
    uint32_t first = V4L2_PIX_FMT_YUYV, width = 640, height = 512;
    if (const char *card = env("TARN_VCAM_CARD")) {
        config.card = std::string(card).substr(0, 31);
        config.product = config.card.substr(0, config.card.find(": "));
    }
    if (const char *format = env("TARN_VCAM_FORMAT")) {
        if (!strcasecmp(format, "MJPEG") || !strcasecmp(format, "MJPG"))
            first = V4L2_PIX_FMT_MJPEG;
        else if (!strcasecmp(format, "GREY") || !strcasecmp(format, "GRAY"))
            first = V4L2_PIX_FMT_GREY;
    }
    if (const char *size = env("TARN_VCAM_SIZE")) {
        unsigned w = 0, h = 0;
        if (std::sscanf(size, "%ux%u", &w, &h) == 2 && w >= 16 && h >= 16 && w <= 4096 && h <= 4096 &&
            w % 2 == 0 && h % 2 == 0) {
            width = w;
            height = h;
        }
    }
    if (const char *serial = env("TARN_VCAM_SERIAL"))
        config.serial = strcasecmp(serial, "none") ? serial : "";
    config.modes = {{first, width, height}};
    for (uint32_t format : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_GREY}) {
        if (format != first)
            config.modes.push_back({format, width, height});
    }
}
} // namespace

CameraConfig CameraConfig::forProfile(const std::string &profile)
{
    CameraConfig config;
    if (profile == "generic-thermal") {
        // A low-cost thermal core: no strings of its own beyond "USB Camera", no commands.
        config.profile = profile;
        config.product = "USB Camera";
        config.manufacturer = "";
        config.card = cardOf(config.product, "USB Camera");
        config.serial = "";
        config.productId = 0x0002;
        config.modes = {{V4L2_PIX_FMT_YUYV, 256, 192}, {V4L2_PIX_FMT_YUYV, 256, 384, true}};
        config.commandControls = false;
    } else if (profile == "webcam") {
        config.profile = profile;
        config.product = "Tarn Wide Angle Conference Camera";
        config.card = cardOf(config.product, "UVC Camera");
        config.serial = "TW2026B0001";
        config.productId = 0x0003;
        config.modes = {{V4L2_PIX_FMT_MJPEG, 1280, 720}, {V4L2_PIX_FMT_YUYV, 640, 480}};
    } else if (profile == "no-product") {
        // Without a product string uvcvideo names the camera after its ids.
        config.profile = profile;
        config.manufacturer = "";
        thermal(config);
        config.card = "UVC Camera (1209:0001)";
        config.product = "";
    } else if (profile == "y16") {
        config.profile = profile;
        config.product = "Tarn Thermal Y16";
        config.card = cardOf(config.product, "UVC Camera");
        config.serial = "TY2026C0001";
        config.productId = 0x0004;
        config.modes = {{V4L2_PIX_FMT_Y16, 640, 512}};
    } else {
        thermal(config);
    }
    if (const char *fps = env("TARN_VCAM_FPS")) {
        const int value = std::atoi(fps);
        if (value >= 1 && value <= 240)
            config.fps = uint32_t(value);
    }
    if (const char *stamp = env("TARN_VCAM_STAMP"))
        config.stamp = std::strcmp(stamp, "1") == 0;
    if (const char *control = env("TARN_VCAM_CONTROL"))
        config.controlPath = control;
    return config;
}

std::vector<CameraConfig> CameraConfig::camerasFromEnvironment()
{
    std::vector<std::string> profiles;
    if (const char *list = env("TARN_VCAM_CAMERAS")) {
        std::string text = list;
        for (size_t start = 0; start <= text.size();) {
            size_t end = text.find(',', start);
            if (end == std::string::npos)
                end = text.size();
            if (end > start)
                profiles.push_back(text.substr(start, end - start));
            start = end + 1;
        }
    }
    if (profiles.empty())
        profiles.push_back(env("TARN_VCAM_PROFILE") ? env("TARN_VCAM_PROFILE") : "thermal");
    int node = 0;
    if (const char *first = env("TARN_VCAM_NODE"))
        node = std::max(0, std::atoi(first));
    std::vector<CameraConfig> cameras;
    for (size_t i = 0; i < profiles.size() && i < 8; ++i) {
        CameraConfig config = forProfile(profiles[i]);
        config.node = node + 2 * int(i);
        config.port = int(i) + 1;
        cameras.push_back(config);
    }
    return cameras;
}

CameraConfig CameraConfig::fromEnvironment()
{
    return camerasFromEnvironment().front();
}

int CameraConfig::openError()
{
    const char *fault = env("TARN_VCAM_FAULT");
    if (fault && !strcasecmp(fault, "EACCES"))
        return EACCES;
    if (fault && !strcasecmp(fault, "EBUSY"))
        return EBUSY;
    return 0;
}
