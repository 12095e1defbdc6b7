#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The virtual camera's picture: a street at night seen through a thermal sensor. Warm people walk on a
// cooler background of buildings, trees and a parked car, with a little sensor noise. The scene is a
// map of temperatures (0..255) at the sensor's 640 × 512 that a palette turns into YUV. The picture
// covers a frame of any size (scaled evenly, what overflows cropped at the sides); zoom magnifies about
// the centre; overlays (tracking box, REC mark) are drawn on top.
//
// setSize() makes everything that does not change from frame to frame; render() allocates nothing.
// One thread at a time (the device's frame thread).
class ThermalScene
{
public:
    static constexpr int SensorWidth = 640;
    static constexpr int SensorHeight = 512;
    static constexpr int PaletteCount = 5;
    // The scene's temperatures in °C, as its radiometric data gives them (README).
    static constexpr double SkyCelsius = -8.0;
    static constexpr double GroundCelsius = 6.0;
    static constexpr double WallCelsius = 12.0;
    static constexpr double DarkWindowCelsius = 8.0;
    static constexpr double WarmWindowCelsius = 22.0;
    static constexpr double SkinCelsius = 34.0;
    static constexpr double EngineCelsius = 85.0;
    // A temperature as a thermal core's 16-bit value: kelvin × 64.
    static constexpr uint16_t kelvin64(double celsius) { return uint16_t((celsius + 273.15) * 64 + 0.5); }

    struct View
    {
        double seconds = 0;     // scene time: where the people are
        uint32_t grain = 0;     // which sensor noise: the same number gives the same noise
        int palette = 0;        // 0 white-hot, 1 black-hot, 2 iron, 3 rainbow, 4 red-hot
        int zoomTenths = 10;    // 10..40
        bool tracking = false;  // box around the hottest spot
        bool recording = false; // REC mark, top left
    };

    struct Yuv
    {
        uint8_t y, u, v;
    };

    // Where a frame goes: a luma byte every lumaStep bytes along a row, one U and one V for each two
    // pixels of every row (4:2:2) every chromaStep bytes; no chroma (null u and v) for greyscale. YUYV
    // is y = data, u = data + 1, v = data + 3, steps 2 and 4, both strides 2 × width.
    struct Target
    {
        uint8_t *y = nullptr;
        uint8_t *u = nullptr;
        uint8_t *v = nullptr;
        size_t lumaStride = 0;
        size_t chromaStride = 0;
        int lumaStep = 1;
        int chromaStep = 1;
    };

    // Frames of width × height (both even) in limited-range (video) or full-range (JPEG) BT.601.
    void setSize(int frameWidth, int frameHeight, bool fullRange);
    void render(const View &view, const Target &target);
    // The temperatures of the last frame rendered, one 16-bit little-endian value per pixel, kelvin × 64,
    // width × height values at stride bytes a row: the scene's fixed temperatures (README), people at
    // skin temperature, without sensor noise. Only after setRadiometric(true).
    void setRadiometric(bool on) { radiometric = on; }
    void renderKelvin(uint8_t *out, size_t stride) const;
    // Paints a rectangle of the frame one colour (clipped to the frame); a pixel's chroma is its pair's.
    void fill(const Target &target, int x0, int y0, int w, int h, Yuv colour) const;

private:
    struct Body
    {
        int width = 0;
        int height = 0;
        std::vector<uint8_t> temperature; // width × height
        std::vector<uint8_t> alpha;       // coverage 0..255
        double centreX = 0, centreY = 0, rangeX = 0, rangeY = 0, speedX = 0, speedY = 0, phase = 0;
    };

    void build();
    void buildBackground();
    void buildPalettes();
    static Body makePerson(double scale, int peak);
    void composeField(double seconds);
    void updateMaps(int zoomTenths);
    Yuv colour(int r, int g, int b) const; // in the frame's range
    void drawRecMark(const Target &target) const;
    void drawTrackingBox(const Target &target, int x, int y) const;

    int width = 0;
    int height = 0;
    bool full = false;
    bool palettesBuilt = false;
    double overlayScale = 1;         // overlays are drawn for 640 × 512 and scaled with the frame
    std::vector<uint8_t> background; // SensorWidth × SensorHeight temperatures
    std::vector<uint16_t> kelvinBackground, kelvinField; // the same in kelvin × 64
    bool radiometric = false;
    std::vector<uint8_t> field; // background plus people, this frame
    std::vector<Body> bodies;
    static constexpr int NoiseSize = 1 << 16;
    static constexpr int NoiseOffset = 32;
    static constexpr int MaxWidth = 4096;
    std::vector<int8_t> noise; // NoiseSize + MaxWidth values in -NoiseOffset..NoiseOffset-1
    std::array<std::array<uint8_t, 256 + 2 * NoiseOffset>, PaletteCount> lumaLut{};
    std::array<std::array<uint8_t, 256>, PaletteCount> uLut{};
    std::array<std::array<uint8_t, 256>, PaletteCount> vLut{};
    std::vector<int> xMap; // frame column -> sensor column
    std::vector<int> yMap; // frame row -> sensor row
    int mappedZoom = 0;
};
