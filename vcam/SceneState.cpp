#include "SceneState.h"

#include <algorithm>
#include <ctime>
#include <linux/videodev2.h>

SceneState::SceneState() : startNs(monotonicNs()) {}

int64_t SceneState::monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SceneState::controlWritten(uint32_t id, int32_t value)
{
    if (id == V4L2_CID_SATURATION) {
        view.zoomTenths = std::clamp(value, 10, 40);
        return;
    }
    if (id != V4L2_CID_CONTRAST)
        return;
    switch (value) {
    case 0:
        view.recording = !view.recording;
        break;
    case 2:
        view.tracking = !view.tracking;
        break;
    case 4:
        frozenUntilNs = monotonicNs() + FreezeNs;
        break;
    case 5:
        view.palette = (view.palette + 1) % ThermalScene::PaletteCount;
        break;
    default:
        break;
    }
}

ThermalScene::View SceneState::viewAt(int64_t nowNs, uint32_t frameNumber)
{
    if (nowNs >= frozenUntilNs) {
        view.seconds = double(nowNs - startNs) / 1e9;
        view.grain = frameNumber;
    }
    return view;
}
