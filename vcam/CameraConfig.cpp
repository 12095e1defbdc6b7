#include "CameraConfig.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <linux/videodev2.h>

namespace {
const char *env(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value ? value : nullptr;
}
} // namespace

CameraConfig CameraConfig::fromEnvironment()
{
    CameraConfig config;
    config.pixelFormat = V4L2_PIX_FMT_YUYV;
    if (const char *node = env("TARN_VCAM_NODE"))
        config.node = std::max(0, std::atoi(node));
    if (const char *card = env("TARN_VCAM_CARD")) {
        config.card = std::string(card).substr(0, 31);
        config.product = config.card.substr(0, config.card.find(": "));
    }
    if (const char *format = env("TARN_VCAM_FORMAT")) {
        if (!strcasecmp(format, "MJPEG") || !strcasecmp(format, "MJPG"))
            config.pixelFormat = V4L2_PIX_FMT_MJPEG;
        else if (!strcasecmp(format, "GREY") || !strcasecmp(format, "GRAY"))
            config.pixelFormat = V4L2_PIX_FMT_GREY;
    }
    if (const char *size = env("TARN_VCAM_SIZE")) {
        unsigned width = 0, height = 0;
        if (std::sscanf(size, "%ux%u", &width, &height) == 2 && width >= 16 && height >= 16 &&
            width <= 4096 && height <= 4096 && width % 2 == 0 && height % 2 == 0) {
            config.width = width;
            config.height = height;
        }
    }
    if (const char *fps = env("TARN_VCAM_FPS")) {
        const int value = std::atoi(fps);
        if (value >= 1 && value <= 240)
            config.fps = uint32_t(value);
    }
    if (const char *serial = env("TARN_VCAM_SERIAL"))
        config.serial = strcasecmp(serial, "none") ? serial : "";
    if (const char *stamp = env("TARN_VCAM_STAMP"))
        config.stamp = std::strcmp(stamp, "1") == 0;
    if (const char *control = env("TARN_VCAM_CONTROL"))
        config.controlPath = control;
    return config;
}

std::vector<CameraConfig> CameraConfig::camerasFromEnvironment()
{
    return {fromEnvironment()};
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
