#include "ThermalScene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr int W = ThermalScene::SensorWidth;
constexpr int H = ThermalScene::SensorHeight;

struct Rgb
{
    double r, g, b; // 0..1
};

struct Stop
{
    double at;
    Rgb colour;
};

uint8_t clampByte(double value)
{
    return uint8_t(std::clamp(std::lround(value), 0L, 255L));
}

// BT.601 in limited (video) or full (JPEG) range.
ThermalScene::Yuv toYuv(const Rgb &c, bool full)
{
    if (full)
        return {clampByte(255 * (0.299 * c.r + 0.587 * c.g + 0.114 * c.b)),
                clampByte(128 + 255 * (-0.168736 * c.r - 0.331264 * c.g + 0.5 * c.b)),
                clampByte(128 + 255 * (0.5 * c.r - 0.418688 * c.g - 0.081312 * c.b))};
    return {clampByte(16 + 65.481 * c.r + 128.553 * c.g + 24.966 * c.b),
            clampByte(128 - 37.797 * c.r - 74.203 * c.g + 112.0 * c.b),
            clampByte(128 + 112.0 * c.r - 93.786 * c.g - 18.214 * c.b)};
}

Rgb interpolate(const std::vector<Stop> &stops, double at)
{
    for (size_t i = 1; i < stops.size(); ++i) {
        if (at <= stops[i].at) {
            const Stop &a = stops[i - 1];
            const Stop &b = stops[i];
            const double f = (at - a.at) / (b.at - a.at);
            return {a.colour.r + (b.colour.r - a.colour.r) * f, a.colour.g + (b.colour.g - a.colour.g) * f,
                    a.colour.b + (b.colour.b - a.colour.b) * f};
        }
    }
    return stops.back().colour;
}

Rgb rgb(int r, int g, int b)
{
    return {r / 255.0, g / 255.0, b / 255.0};
}

std::vector<Stop> paletteStops(int index)
{
    switch (index) {
    case 1: // black-hot
        return {{0, rgb(255, 255, 255)}, {1, rgb(0, 0, 0)}};
    case 2: // iron
        return {{0, rgb(0, 0, 0)},       {0.2, rgb(32, 0, 110)},  {0.4, rgb(150, 0, 150)},
                {0.6, rgb(230, 80, 30)}, {0.8, rgb(255, 190, 0)}, {1, rgb(255, 255, 220)}};
    case 3: // rainbow
        return {{0, rgb(0, 0, 90)},     {0.2, rgb(0, 0, 255)},   {0.4, rgb(0, 255, 255)},
                {0.55, rgb(0, 255, 0)}, {0.7, rgb(255, 255, 0)}, {0.85, rgb(255, 0, 0)},
                {1, rgb(255, 255, 255)}};
    case 4: // red-hot
        return {{0, rgb(0, 0, 0)}, {0.5, rgb(190, 190, 190)}, {0.58, rgb(220, 40, 0)}, {1, rgb(255, 240, 0)}};
    default: // white-hot
        return {{0, rgb(0, 0, 0)}, {1, rgb(255, 255, 255)}};
    }
}

// 5 × 7 glyphs, one row per byte, most significant of the low five bits leftmost.
constexpr uint8_t glyphR[7] = {0x1e, 0x11, 0x11, 0x1e, 0x14, 0x12, 0x11};
constexpr uint8_t glyphE[7] = {0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x1f};
constexpr uint8_t glyphC[7] = {0x0f, 0x10, 0x10, 0x10, 0x10, 0x10, 0x0f};

uint32_t xorshift(uint32_t &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}
} // namespace

void ThermalScene::setSize(int frameWidth, int frameHeight, bool fullRange)
{
    if (background.empty())
        build();
    frameWidth = std::clamp(frameWidth & ~1, 2, MaxWidth);
    frameHeight = std::max(2, frameHeight & ~1);
    if (frameWidth != width || frameHeight != height) {
        width = frameWidth;
        height = frameHeight;
        xMap.assign(size_t(width), 0);
        yMap.assign(size_t(height), 0);
        mappedZoom = 0;
    }
    overlayScale = std::max(0.375, std::min(double(width) / W, double(height) / H));
    if (!palettesBuilt || fullRange != full) {
        full = fullRange;
        buildPalettes();
        palettesBuilt = true;
    }
    updateMaps(10);
}

ThermalScene::Yuv ThermalScene::colour(int r, int g, int b) const
{
    return toYuv(rgb(r, g, b), full);
}

void ThermalScene::build()
{
    background.assign(size_t(W) * H, 0);
    kelvinBackground.assign(size_t(W) * H, 0);
    field.assign(size_t(W) * H, 0);
    buildBackground();

    // Roughly Gaussian grain (sum of three uniforms), a standard deviation of about 3.5 steps.
    noise.resize(NoiseSize + MaxWidth);
    uint32_t state = 0x1234567u;
    for (int8_t &n : noise) {
        const int sum = int(xorshift(state) % 7) + int(xorshift(state) % 7) + int(xorshift(state) % 7) - 9;
        n = int8_t(std::clamp(sum, -NoiseOffset, NoiseOffset - 1));
    }

    // Five people at different distances (smaller and cooler further away), each on its own path.
    struct Path
    {
        double scale;
        int peak;
        double cx, cy, rx, ry, sx, sy, phase;
    };
    const Path paths[] = {
        {1.0, 236, 320, 400, 250, 14, 0.31, 0.23, 0.0}, {0.85, 218, 200, 360, 150, 10, 0.45, 0.37, 1.7},
        {0.7, 205, 460, 320, 140, 6, 0.27, 0.51, 3.1},  {1.1, 224, 470, 430, 130, 20, 0.39, 0.19, 4.4},
        {0.6, 196, 300, 300, 220, 4, 0.21, 0.43, 5.3},
    };
    for (const Path &path : paths) {
        Body body = makePerson(path.scale, path.peak);
        body.centreX = path.cx;
        body.centreY = path.cy;
        body.rangeX = path.rx;
        body.rangeY = path.ry;
        body.speedX = path.sx;
        body.speedY = path.sy;
        body.phase = path.phase;
        bodies.push_back(std::move(body));
    }
}

void ThermalScene::buildBackground()
{
    auto at = [this](int x, int y) -> uint8_t & {
        return background[size_t(y) * W + size_t(x)];
    };
    // Each area has a level for the picture and a temperature in °C for the radiometric data.
    auto fillArea = [&](int x0, int y0, int x1, int y1, int t, double celsius) {
        const uint16_t kelvin = kelvin64(celsius);
        for (int y = std::max(0, y0); y < std::min(H, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(W, x1); ++x) {
                at(x, y) = uint8_t(t);
                kelvinBackground[size_t(y) * W + size_t(x)] = kelvin;
            }
    };
    auto disc = [&](int cx, int cy, int r, int t, double celsius) {
        const uint16_t kelvin = kelvin64(celsius);
        for (int y = cy - r; y <= cy + r; ++y)
            for (int x = cx - r; x <= cx + r; ++x)
                if (x >= 0 && y >= 0 && x < W && y < H &&
                    (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) {
                    at(x, y) = uint8_t(t);
                    kelvinBackground[size_t(y) * W + size_t(x)] = kelvin;
                }
    };

    // Cold sky over warmer ground that cools towards the bottom.
    constexpr int horizon = 250;
    for (int y = 0; y < H; ++y) {
        const int t = y < horizon ? 30 + 20 * y / horizon : 100 - 15 * (y - horizon) / (H - horizon);
        fillArea(0, y, W, y + 1, t, y < horizon ? SkyCelsius : GroundCelsius);
    }
    // Three buildings with a grid of windows, some lit (warm), some dark.
    struct Building
    {
        int x0, y0, x1, y1, wall;
    };
    const Building buildings[] = {
        {30, 80, 200, horizon, 82}, {240, 150, 390, horizon, 90}, {430, 50, 610, horizon, 78}};
    int windowNumber = 0;
    for (const Building &b : buildings) {
        fillArea(b.x0, b.y0, b.x1, b.y1, b.wall, WallCelsius);
        for (int wy = b.y0 + 12; wy + 18 < b.y1 - 8; wy += 30) {
            for (int wx = b.x0 + 12; wx + 14 < b.x1 - 8; wx += 26) {
                const bool lit = (windowNumber * 7 + 3) % 5 < 3;
                fillArea(wx, wy, wx + 14, wy + 18, lit ? 128 + (windowNumber * 13) % 24 : 62,
                         lit ? WarmWindowCelsius : DarkWindowCelsius);
                ++windowNumber;
            }
        }
    }
    fillArea(295, 205, 335, horizon, 118, 18.0); // a warm doorway
    // Trees: cool crowns on trunks.
    fillArea(222, 200, 230, horizon + 10, 70, 8.0);
    disc(226, 185, 32, 58, 4.0);
    fillArea(408, 210, 414, horizon + 10, 70, 8.0);
    disc(411, 195, 26, 56, 4.0);
    // A street lamp.
    fillArea(322, 60, 326, horizon + 30, 74, 9.0);
    disc(324, 58, 7, 178, 60.0);
    // The road and a parked car with a warm engine.
    fillArea(0, 300, W, 345, 108, 9.0);
    for (int x = 10; x < W; x += 60)
        fillArea(x, 320, x + 30, 324, 96, 7.0);
    fillArea(470, 372, 600, 420, 88, 7.0);
    fillArea(490, 350, 570, 374, 80, 5.0);
    fillArea(560, 378, 600, 410, 150, EngineCelsius);
    disc(495, 420, 12, 124, 15.0);
    disc(575, 420, 12, 124, 15.0);

    // Fixed-pattern texture: gentle waves plus a little static grain.
    std::array<double, W> waveX;
    for (int x = 0; x < W; ++x)
        waveX[size_t(x)] = 2.5 * std::sin(x * 0.05);
    uint32_t state = 0xC0FFEEu;
    for (int y = 0; y < H; ++y) {
        const double waveY = std::cos(y * 0.07);
        for (int x = 0; x < W; ++x) {
            state = state * 1664525u + 1013904223u;
            const int grain = int((state >> 24) % 5) - 2;
            const int wave = int(std::lround(waveX[size_t(x)] * waveY));
            at(x, y) = uint8_t(std::clamp(int(at(x, y)) + grain + wave, 0, 255));
        }
    }
}

void ThermalScene::buildPalettes()
{
    for (int p = 0; p < PaletteCount; ++p) {
        const std::vector<Stop> stops = paletteStops(p);
        std::array<Yuv, 256> colours;
        for (int t = 0; t < 256; ++t)
            colours[size_t(t)] = toYuv(interpolate(stops, t / 255.0), full);
        for (int i = 0; i < 256 + 2 * NoiseOffset; ++i)
            lumaLut[size_t(p)][size_t(i)] = colours[size_t(std::clamp(i - NoiseOffset, 0, 255))].y;
        for (int t = 0; t < 256; ++t) {
            uLut[size_t(p)][size_t(t)] = colours[size_t(t)].u;
            vLut[size_t(p)][size_t(t)] = colours[size_t(t)].v;
        }
    }
}

ThermalScene::Body ThermalScene::makePerson(double scale, int peak)
{
    Body body;
    body.width = int(std::lround(30 * scale));
    body.height = int(std::lround(76 * scale));
    body.temperature.assign(size_t(body.width) * size_t(body.height), 0);
    body.alpha.assign(size_t(body.width) * size_t(body.height), 0);
    // In units of the full-size figure (30 × 76): head, torso, arms, legs. Returns the part's
    // temperature below the peak, or -1 outside the figure.
    auto part = [](double x, double y) -> int {
        auto inEllipse = [&](double cx, double cy, double rx, double ry) {
            const double dx = (x - cx) / rx, dy = (y - cy) / ry;
            return dx * dx + dy * dy <= 1.0;
        };
        if (inEllipse(15, 8, 6.5, 7.5))
            return 0; // bare face: the warmest
        if (inEllipse(15, 31, 9.5, 16))
            return 22; // clothed torso
        if (inEllipse(5, 32, 3, 13) || inEllipse(25, 32, 3, 13))
            return 14; // arms
        if ((x >= 9 && x <= 14 && y >= 44 && y <= 75) || (x >= 16 && x <= 21 && y >= 44 && y <= 75))
            return 34; // legs
        return -1;
    };
    constexpr int samples = 3;
    for (int y = 0; y < body.height; ++y) {
        for (int x = 0; x < body.width; ++x) {
            int covered = 0, coolest = 0;
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    const int below =
                        part((x + (sx + 0.5) / samples) / scale, (y + (sy + 0.5) / samples) / scale);
                    if (below >= 0) {
                        ++covered;
                        coolest = std::max(coolest, below);
                    }
                }
            }
            const size_t i = size_t(y) * size_t(body.width) + size_t(x);
            body.temperature[i] = uint8_t(std::clamp(peak - coolest, 0, 255));
            body.alpha[i] = uint8_t(covered * 255 / (samples * samples));
        }
    }
    return body;
}

void ThermalScene::composeField(double seconds)
{
    std::memcpy(field.data(), background.data(), field.size());
    if (radiometric)
        kelvinField = kelvinBackground;
    const int skin = kelvin64(SkinCelsius);
    for (const Body &body : bodies) {
        const int left =
            int(std::lround(body.centreX + body.rangeX * std::sin(body.speedX * seconds + body.phase))) -
            body.width / 2;
        const int top =
            int(std::lround(body.centreY + body.rangeY * std::sin(body.speedY * seconds + 2 * body.phase))) -
            body.height;
        for (int y = 0; y < body.height; ++y) {
            const int fy = top + y;
            if (fy < 0 || fy >= H)
                continue;
            uint8_t *row = field.data() + size_t(fy) * W;
            const uint8_t *temperature = body.temperature.data() + size_t(y) * size_t(body.width);
            const uint8_t *alpha = body.alpha.data() + size_t(y) * size_t(body.width);
            for (int x = 0; x < body.width; ++x) {
                const int fx = left + x;
                if (fx < 0 || fx >= W || alpha[x] == 0)
                    continue;
                row[fx] = uint8_t(row[fx] + ((int(temperature[x]) - row[fx]) * alpha[x]) / 255);
                if (radiometric) {
                    uint16_t &kelvin = kelvinField[size_t(fy) * W + size_t(fx)];
                    kelvin = uint16_t(kelvin + ((skin - kelvin) * alpha[x]) / 255);
                }
            }
        }
    }
}

void ThermalScene::updateMaps(int zoomTenths)
{
    if (zoomTenths == mappedZoom)
        return;
    mappedZoom = zoomTenths;
    // Frame pixels per sensor pixel: the sensor's picture covers the frame, then the zoom.
    const double scale = std::max(double(width) / W, double(height) / H) * zoomTenths / 10.0;
    for (int x = 0; x < width; ++x)
        xMap[size_t(x)] = std::clamp(int(std::floor(W / 2.0 + (x + 0.5 - width / 2.0) / scale)), 0, W - 1);
    for (int y = 0; y < height; ++y)
        yMap[size_t(y)] = std::clamp(int(std::floor(H / 2.0 + (y + 0.5 - height / 2.0) / scale)), 0, H - 1);
}

namespace {
// One row of the frame in one pass: each pixel's luma through the palette (with its grain), and each
// pair's chroma from its left pixel. Steps known at compile time (YUYV, planar) make it several times
// faster; 0 takes them from the target.
template <int LumaStep, int ChromaStep>
void renderRow(const ThermalScene::Target &target, int y, int width, const uint8_t *source, const int *xs,
               const int8_t *grain, const uint8_t *luma, const uint8_t *uTable, const uint8_t *vTable)
{
    const int ls = LumaStep ? LumaStep : target.lumaStep;
    const int cs = ChromaStep ? ChromaStep : target.chromaStep;
    uint8_t *outY = target.y + size_t(y) * target.lumaStride;
    if (!target.u || !target.v) {
        for (int x = 0; x < width; ++x)
            outY[x * ls] = luma[source[xs[x]] + grain[x]];
        return;
    }
    uint8_t *outU = target.u + size_t(y) * target.chromaStride;
    uint8_t *outV = target.v + size_t(y) * target.chromaStride;
    for (int cx = 0; cx < width / 2; ++cx) {
        const uint8_t left = source[xs[2 * cx]];
        outY[2 * cx * ls] = luma[left + grain[2 * cx]];
        outU[cx * cs] = uTable[left];
        outY[(2 * cx + 1) * ls] = luma[source[xs[2 * cx + 1]] + grain[2 * cx + 1]];
        outV[cx * cs] = vTable[left];
    }
}
} // namespace

void ThermalScene::render(const View &view, const Target &target)
{
    if (width == 0)
        return;
    const size_t palette = size_t(std::clamp(view.palette, 0, PaletteCount - 1));
    updateMaps(std::clamp(view.zoomTenths, 10, 40));
    composeField(view.seconds);

    const uint8_t *luma = lumaLut[palette].data() + NoiseOffset;
    const uint8_t *uTable = uLut[palette].data();
    const uint8_t *vTable = vLut[palette].data();
    const bool packed = target.lumaStep == 2 && target.chromaStep == 4;
    const bool planar = target.lumaStep == 1 && (target.chromaStep == 1 || !target.u);
    uint32_t state = view.grain * 2654435761u + 0x9E3779B9u;
    if (state == 0)
        state = 1;
    for (int y = 0; y < height; ++y) {
        const uint8_t *source = field.data() + size_t(yMap[size_t(y)]) * W;
        const int8_t *grain = noise.data() + xorshift(state) % NoiseSize;
        if (packed)
            renderRow<2, 4>(target, y, width, source, xMap.data(), grain, luma, uTable, vTable);
        else if (planar)
            renderRow<1, 1>(target, y, width, source, xMap.data(), grain, luma, uTable, vTable);
        else
            renderRow<0, 0>(target, y, width, source, xMap.data(), grain, luma, uTable, vTable);
    }

    if (view.tracking) {
        // The hottest spot in sight, sampled at every other pixel of every other row.
        int hottest = -1, hottestX = 0, hottestY = 0;
        for (int y = 0; y < height; y += 2) {
            const uint8_t *source = field.data() + size_t(yMap[size_t(y)]) * W;
            for (int x = 0; x < width; x += 2) {
                if (source[xMap[size_t(x)]] > hottest) {
                    hottest = source[xMap[size_t(x)]];
                    hottestX = x;
                    hottestY = y;
                }
            }
        }
        drawTrackingBox(target, hottestX, hottestY);
    }
    if (view.recording)
        drawRecMark(target);
}

void ThermalScene::renderKelvin(uint8_t *out, size_t stride) const
{
    if (kelvinField.empty())
        return;
    for (int y = 0; y < height; ++y) {
        const uint16_t *source = kelvinField.data() + size_t(yMap[size_t(y)]) * W;
        uint8_t *row = out + size_t(y) * stride;
        for (int x = 0; x < width; ++x) {
            const uint16_t value = source[xMap[size_t(x)]];
            row[2 * x] = uint8_t(value & 0xff);
            row[2 * x + 1] = uint8_t(value >> 8);
        }
    }
}

void ThermalScene::fill(const Target &target, int x0, int y0, int w, int h, Yuv c) const
{
    const int left = std::max(0, x0), right = std::min(width, x0 + w);
    const int top = std::max(0, y0), bottom = std::min(height, y0 + h);
    for (int y = top; y < bottom; ++y) {
        uint8_t *lumaRow = target.y + size_t(y) * target.lumaStride;
        for (int x = left; x < right; ++x)
            lumaRow[x * target.lumaStep] = c.y;
        if (!target.u || !target.v)
            continue;
        const size_t row = size_t(y) * target.chromaStride;
        for (int cx = left / 2; cx < (right + 1) / 2; ++cx) {
            target.u[row + size_t(cx * target.chromaStep)] = c.u;
            target.v[row + size_t(cx * target.chromaStep)] = c.v;
        }
    }
}

void ThermalScene::drawRecMark(const Target &target) const
{
    const Yuv red = colour(255, 0, 0);
    const double k = overlayScale;
    const int cx = int(28 * k), cy = int(28 * k), radius = std::max(2, int(10 * k));
    for (int dy = -radius; dy <= radius; ++dy) {
        const int half = int(std::sqrt(double(radius * radius - dy * dy)));
        fill(target, cx - half, cy + dy, 2 * half + 1, 1, red);
    }
    const int unit = std::max(1, int(std::lround(3 * k)));
    const uint8_t *const glyphs[] = {glyphR, glyphE, glyphC};
    for (int g = 0; g < 3; ++g) {
        const int x0 = int((46 + 20 * g) * k), y0 = int(18 * k);
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (glyphs[g][row] & (0x10 >> col))
                    fill(target, x0 + col * unit, y0 + row * unit, unit, unit, red);
    }
}

void ThermalScene::drawTrackingBox(const Target &target, int x, int y) const
{
    const Yuv green = colour(0, 255, 0);
    const double k = overlayScale;
    const int half = std::max(6, int(28 * k)), thickness = std::max(1, int(std::lround(2 * k)));
    const int cross = std::max(3, int(6 * k));
    const int x0 = x - half, y0 = y - half, size = 2 * half;
    fill(target, x0, y0, size, thickness, green);
    fill(target, x0, y0 + size - thickness, size, thickness, green);
    fill(target, x0, y0, thickness, size, green);
    fill(target, x0 + size - thickness, y0, thickness, size, green);
    fill(target, x - cross, y - thickness / 2, 2 * cross, thickness, green);
    fill(target, x - thickness / 2, y - cross, thickness, 2 * cross, green);
}
