#pragma once

#include "ThermalScene.h"

#include <cstdint>

// What the camera's commands have made of its picture. They arrive as control writes, as a thermal
// core's firmware takes them over UVC: every write of contrast is one command, the same value again
// included (0 REC mark on/off, 2 tracking box on/off, 4 flat-field correction: the picture holds still
// for FreezeNs, 5 next palette; other values change nothing visible), and saturation 10..40 is the
// zoom in tenths. Not locked: the device calls it under its own mutex.
class SceneState
{
public:
    static constexpr int64_t FreezeNs = 500000000;

    SceneState();
    // A control was written (after clamping to its range); times are CLOCK_MONOTONIC.
    void controlWritten(uint32_t id, int32_t value);
    // The view of the frame captured at nowNs, the frame thread's frameNumber-th: scene time and noise
    // follow the clock and the frame, except during a freeze, which repeats the last picture's.
    ThermalScene::View viewAt(int64_t nowNs, uint32_t frameNumber);

    static int64_t monotonicNs();

private:
    ThermalScene::View view;
    int64_t startNs;
    int64_t frozenUntilNs = 0;
};
