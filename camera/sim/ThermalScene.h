#pragma once

#include <QPoint>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

// The simulated camera's picture: a street at night seen through a thermal sensor. Warm people walk
// on a cooler background of buildings, trees and a parked car, with a little sensor noise. The scene
// is a map of temperatures (0..255) that a palette turns into 4:2:0 limited-range YUV; zoom magnifies
// about the centre; overlays (tracking box, REC mark) are drawn on top.
//
// Everything that does not move is computed once by the constructor; render() allocates nothing.
// One thread renders (the camera's stream thread).
class ThermalScene
{
public:
    static constexpr int Width = 640;
    static constexpr int Height = 512;
    static constexpr int PaletteCount = 5;

    struct View
    {
        int palette = 0;        // 0 white-hot, 1 black-hot, 2 iron, 3 rainbow, 4 red-hot
        int zoomTenths = 10;    // 10..40
        bool tracking = false;  // box around the hottest spot
        bool recording = false; // REC mark, top left
    };

    ThermalScene();

    static QString paletteName(int index);

    // Renders the scene at `seconds` of scene time into planes of Width × Height (y, stride Width) and
    // Width/2 × Height/2 (u and v, stride Width/2).
    void render(double seconds, const View &view, uint8_t *y, uint8_t *u, uint8_t *v);

    // The hottest spot of the last rendered picture, in picture coordinates.
    QPoint hottestSpot() const { return hottest; }

private:
    struct Body
    {
        int width = 0;
        int height = 0;
        std::vector<uint8_t> temperature; // width × height
        std::vector<uint8_t> alpha;       // coverage 0..255
        double centreX = 0, centreY = 0, rangeX = 0, rangeY = 0, speedX = 0, speedY = 0, phase = 0;
    };

    void buildBackground();
    void buildPalettes();
    void buildNoise();
    static Body makePerson(double scale, int peak);
    void composeField(double seconds);
    void updateZoomMaps(int zoomTenths);
    uint32_t nextRandom();

    std::vector<uint8_t> background; // Width × Height temperatures
    std::vector<uint8_t> field;      // background plus bodies, this frame
    std::vector<Body> bodies;
    static constexpr int NoiseSize = 1 << 16;
    static constexpr int NoiseOffset = 32;
    std::vector<int8_t> noise; // NoiseSize + Width values in -NoiseOffset..NoiseOffset-1
    std::array<std::array<uint8_t, 256 + 2 * NoiseOffset>, PaletteCount> lumaLut{};
    std::array<std::array<uint8_t, 256>, PaletteCount> uLut{};
    std::array<std::array<uint8_t, 256>, PaletteCount> vLut{};
    std::array<int, Width> xMap{};
    std::array<int, Height> yMap{};
    int mappedZoom = 0;
    uint32_t randomState = 0x1234567u;
    QPoint hottest;
};
