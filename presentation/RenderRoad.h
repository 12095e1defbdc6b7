#pragma once

#include <QString>

// How the window shows the picture. With a GPU, Qt Quick renders through OpenGL and VideoOutput shows
// the picture. Where OpenGL is only a software rasteriser (llvmpipe, softpipe, swrast: virtual
// machines, remote desktops, small boxes, CI) or missing, drawing the whole scene through it every
// frame costs about nine tenths of the viewer's CPU: there the window renders with Qt Quick's software
// renderer and SoftwareVideoItem shows the picture.
class RenderRoad
{
public:
    enum Road
    {
        OpenGL,
        Software,
    };

    // Before the QGuiApplication: a window asks to be drawn again (each new picture) and Qt waits 5 ms
    // by default before it draws, to gather more changes; the picture comes at most every frame
    // interval, so that wait is only latency. QT_QPA_UPDATE_IDLE_TIME set by the user still wins.
    static void drawWithoutDelay();
    // Chooses once, after the QGuiApplication and before the first window: requested is "opengl",
    // "software" or "auto"/empty (then QT_QUICK_BACKEND, then the GPU devices and the OpenGL renderer
    // decide). Sets the
    // scene graph's backend to match and logs the choice with its reason (tarn.presentation).
    static Road choose(const QString &requested);
    // The road's name as the window reads it: "opengl" or "software".
    static QString name(Road road)
    {
        return road == Software ? QStringLiteral("software") : QStringLiteral("opengl");
    }
    // The renderer string of the default OpenGL context; empty when none can be made.
    static QString openGLRenderer();
    // A GPU device node is there (/dev/dri/renderD*, /dev/dri/card*, /dev/nvidia0): without one, OpenGL
    // can only be a software rasteriser.
    static bool hasGpuDevice();
    // A renderer string that names a software rasteriser.
    static bool isSoftwareRasteriser(const QString &renderer);
};
