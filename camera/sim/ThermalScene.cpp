#include "camera/sim/ThermalScene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
struct Rgb
{
    double r, g, b; // 0..1
};

struct Stop
{
    double at;
    Rgb colour;
};

struct Yuv
{
    uint8_t y, u, v;
};

uint8_t clampByte(double value)
{
    return uint8_t(std::clamp(std::lround(value), 0L, 255L));
}

// BT.601, limited range: what FFmpeg assumes for a YUV4MPEG stream that says nothing else.
Yuv toYuv(const Rgb &c)
{
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

const char *const paletteNames[ThermalScene::PaletteCount] = {"white-hot", "black-hot", "iron", "rainbow",
                                                              "red-hot"};

std::vector<Stop> paletteStops(int index)
{
    switch (index) {
    case 1:
        return {{0, rgb(255, 255, 255)}, {1, rgb(0, 0, 0)}};
    case 2:
        return {{0, rgb(0, 0, 0)},       {0.2, rgb(32, 0, 110)},  {0.4, rgb(150, 0, 150)},
                {0.6, rgb(230, 80, 30)}, {0.8, rgb(255, 190, 0)}, {1, rgb(255, 255, 220)}};
    case 3:
        return {{0, rgb(0, 0, 90)},     {0.2, rgb(0, 0, 255)},   {0.4, rgb(0, 255, 255)},
                {0.55, rgb(0, 255, 0)}, {0.7, rgb(255, 255, 0)}, {0.85, rgb(255, 0, 0)},
                {1, rgb(255, 255, 255)}};
    case 4:
        return {{0, rgb(0, 0, 0)}, {0.5, rgb(190, 190, 190)}, {0.58, rgb(220, 40, 0)}, {1, rgb(255, 240, 0)}};
    default:
        return {{0, rgb(0, 0, 0)}, {1, rgb(255, 255, 255)}};
    }
}

// Overlays are drawn straight into the 4:2:0 planes; a pixel's colour also sets the chroma of the
// 2×2 block it belongs to.
struct Planes
{
    uint8_t *y, *u, *v;
};

void putPixel(const Planes &p, int x, int y, Yuv c)
{
    if (x < 0 || y < 0 || x >= ThermalScene::Width || y >= ThermalScene::Height)
        return;
    p.y[y * ThermalScene::Width + x] = c.y;
    const int ci = (y / 2) * (ThermalScene::Width / 2) + x / 2;
    p.u[ci] = c.u;
    p.v[ci] = c.v;
}

void fillRect(const Planes &p, int x0, int y0, int w, int h, Yuv c)
{
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            putPixel(p, x, y, c);
}

// 5 × 7 glyphs, one row per byte, most significant of the low five bits leftmost.
constexpr uint8_t glyphR[7] = {0x1e, 0x11, 0x11, 0x1e, 0x14, 0x12, 0x11};
constexpr uint8_t glyphE[7] = {0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x1f};
constexpr uint8_t glyphC[7] = {0x0f, 0x10, 0x10, 0x10, 0x10, 0x10, 0x0f};

void drawGlyph(const Planes &p, const uint8_t (&glyph)[7], int x0, int y0, int scale, Yuv c)
{
    for (int row = 0; row < 7; ++row)
        for (int col = 0; col < 5; ++col)
            if (glyph[row] & (0x10 >> col))
                fillRect(p, x0 + col * scale, y0 + row * scale, scale, scale, c);
}

void drawRecMark(const Planes &p)
{
    const Yuv red = toYuv(rgb(255, 0, 0));
    const int cx = 28, cy = 28, radius = 10;
    for (int y = cy - radius; y <= cy + radius; ++y)
        for (int x = cx - radius; x <= cx + radius; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius)
                putPixel(p, x, y, red);
    drawGlyph(p, glyphR, 46, 18, 3, red);
    drawGlyph(p, glyphE, 66, 18, 3, red);
    drawGlyph(p, glyphC, 86, 18, 3, red);
}

void drawTrackingBox(const Planes &p, QPoint centre)
{
    const Yuv green = toYuv(rgb(0, 255, 0));
    const int half = 28, thickness = 2;
    const int x0 = centre.x() - half, y0 = centre.y() - half, size = 2 * half;
    fillRect(p, x0, y0, size, thickness, green);
    fillRect(p, x0, y0 + size - thickness, size, thickness, green);
    fillRect(p, x0, y0, thickness, size, green);
    fillRect(p, x0 + size - thickness, y0, thickness, size, green);
    fillRect(p, centre.x() - 6, centre.y() - 1, 12, 2, green);
    fillRect(p, centre.x() - 1, centre.y() - 6, 2, 12, green);
}
} // namespace

ThermalScene::ThermalScene()
    : background(size_t(Width) * Height), field(size_t(Width) * Height), noise(NoiseSize + Width)
{
    buildBackground();
    buildPalettes();
    buildNoise();

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
    updateZoomMaps(10);
}

QString ThermalScene::paletteName(int index)
{
    if (index < 0 || index >= PaletteCount)
        return {};
    return QString::fromLatin1(paletteNames[index]);
}

void ThermalScene::buildBackground()
{
    auto at = [this](int x, int y) -> uint8_t & {
        return background[size_t(y) * Width + x];
    };
    auto fill = [&](int x0, int y0, int x1, int y1, int t) {
        for (int y = std::max(0, y0); y < std::min(Height, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(Width, x1); ++x)
                at(x, y) = uint8_t(t);
    };
    auto disc = [&](int cx, int cy, int r, int t) {
        for (int y = cy - r; y <= cy + r; ++y)
            for (int x = cx - r; x <= cx + r; ++x)
                if (x >= 0 && y >= 0 && x < Width && y < Height &&
                    (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
                    at(x, y) = uint8_t(t);
    };

    // Cold sky over warmer ground that cools towards the bottom.
    constexpr int horizon = 250;
    for (int y = 0; y < Height; ++y) {
        const int t = y < horizon ? 30 + 20 * y / horizon : 100 - 15 * (y - horizon) / (Height - horizon);
        fill(0, y, Width, y + 1, t);
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
        fill(b.x0, b.y0, b.x1, b.y1, b.wall);
        for (int wy = b.y0 + 12; wy + 18 < b.y1 - 8; wy += 30) {
            for (int wx = b.x0 + 12; wx + 14 < b.x1 - 8; wx += 26) {
                const bool lit = (windowNumber * 7 + 3) % 5 < 3;
                fill(wx, wy, wx + 14, wy + 18, lit ? 128 + (windowNumber * 13) % 24 : 62);
                ++windowNumber;
            }
        }
    }
    fill(295, 205, 335, horizon, 118); // a warm doorway
    // Trees: cool crowns on trunks.
    fill(222, 200, 230, horizon + 10, 70);
    disc(226, 185, 32, 58);
    fill(408, 210, 414, horizon + 10, 70);
    disc(411, 195, 26, 56);
    // A street lamp.
    fill(322, 60, 326, horizon + 30, 74);
    disc(324, 58, 7, 178);
    // The road and a parked car with a warm engine.
    fill(0, 300, Width, 345, 108);
    for (int x = 10; x < Width; x += 60)
        fill(x, 320, x + 30, 324, 96);
    fill(470, 372, 600, 420, 88);
    fill(490, 350, 570, 374, 80);
    fill(560, 378, 600, 410, 150);
    disc(495, 420, 12, 124);
    disc(575, 420, 12, 124);

    // Fixed-pattern texture: gentle waves plus a little static grain.
    uint32_t state = 0xC0FFEEu;
    for (int y = 0; y < Height; ++y) {
        for (int x = 0; x < Width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int grain = int((state >> 24) % 5) - 2;
            const int wave = int(std::lround(2.5 * std::sin(x * 0.05) * std::cos(y * 0.07)));
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
            colours[size_t(t)] = toYuv(interpolate(stops, t / 255.0));
        for (int i = 0; i < 256 + 2 * NoiseOffset; ++i)
            lumaLut[size_t(p)][size_t(i)] = colours[size_t(std::clamp(i - NoiseOffset, 0, 255))].y;
        for (int t = 0; t < 256; ++t) {
            uLut[size_t(p)][size_t(t)] = colours[size_t(t)].u;
            vLut[size_t(p)][size_t(t)] = colours[size_t(t)].v;
        }
    }
}

void ThermalScene::buildNoise()
{
    // Roughly Gaussian (sum of three uniforms), a standard deviation of about 3.5 temperature steps.
    for (int8_t &n : noise) {
        const int sum = int(nextRandom() % 7) + int(nextRandom() % 7) + int(nextRandom() % 7) - 9;
        n = int8_t(std::clamp(sum, -NoiseOffset, NoiseOffset - 1));
    }
}

ThermalScene::Body ThermalScene::makePerson(double scale, int peak)
{
    Body body;
    body.width = int(std::lround(30 * scale));
    body.height = int(std::lround(76 * scale));
    body.temperature.assign(size_t(body.width) * body.height, 0);
    body.alpha.assign(size_t(body.width) * body.height, 0);
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
            const size_t i = size_t(y) * body.width + x;
            body.temperature[i] = uint8_t(std::clamp(peak - coolest, 0, 255));
            body.alpha[i] = uint8_t(covered * 255 / (samples * samples));
        }
    }
    return body;
}

uint32_t ThermalScene::nextRandom()
{
    randomState ^= randomState << 13;
    randomState ^= randomState >> 17;
    randomState ^= randomState << 5;
    return randomState;
}

void ThermalScene::composeField(double seconds)
{
    std::memcpy(field.data(), background.data(), field.size());
    for (const Body &body : bodies) {
        const int left =
            int(std::lround(body.centreX + body.rangeX * std::sin(body.speedX * seconds + body.phase))) -
            body.width / 2;
        const int top =
            int(std::lround(body.centreY + body.rangeY * std::sin(body.speedY * seconds + 2 * body.phase))) -
            body.height;
        for (int y = 0; y < body.height; ++y) {
            const int fy = top + y;
            if (fy < 0 || fy >= Height)
                continue;
            uint8_t *row = field.data() + size_t(fy) * Width;
            const uint8_t *temperature = body.temperature.data() + size_t(y) * body.width;
            const uint8_t *alpha = body.alpha.data() + size_t(y) * body.width;
            for (int x = 0; x < body.width; ++x) {
                const int fx = left + x;
                if (fx < 0 || fx >= Width || alpha[x] == 0)
                    continue;
                row[fx] = uint8_t(row[fx] + ((int(temperature[x]) - row[fx]) * alpha[x]) / 255);
            }
        }
    }
}

void ThermalScene::updateZoomMaps(int zoomTenths)
{
    if (zoomTenths == mappedZoom)
        return;
    mappedZoom = zoomTenths;
    const double zoom = zoomTenths / 10.0;
    for (int x = 0; x < Width; ++x)
        xMap[size_t(x)] =
            std::clamp(int(std::floor(Width / 2.0 + (x + 0.5 - Width / 2.0) / zoom)), 0, Width - 1);
    for (int y = 0; y < Height; ++y)
        yMap[size_t(y)] =
            std::clamp(int(std::floor(Height / 2.0 + (y + 0.5 - Height / 2.0) / zoom)), 0, Height - 1);
}

void ThermalScene::render(double seconds, const View &view, uint8_t *y, uint8_t *u, uint8_t *v)
{
    const int palette = std::clamp(view.palette, 0, PaletteCount - 1);
    updateZoomMaps(std::clamp(view.zoomTenths, 10, 40));
    composeField(seconds);

    const uint8_t *luma = lumaLut[size_t(palette)].data();
    for (int oy = 0; oy < Height; ++oy) {
        const uint8_t *source = field.data() + size_t(yMap[size_t(oy)]) * Width;
        const int8_t *grain = noise.data() + (nextRandom() % NoiseSize);
        uint8_t *out = y + size_t(oy) * Width;
        for (int x = 0; x < Width; ++x)
            out[x] = luma[source[xMap[size_t(x)]] + grain[x] + NoiseOffset];
    }

    const uint8_t *uTable = uLut[size_t(palette)].data();
    const uint8_t *vTable = vLut[size_t(palette)].data();
    int hottestTemperature = -1;
    for (int cy = 0; cy < Height / 2; ++cy) {
        const uint8_t *source = field.data() + size_t(yMap[size_t(2 * cy)]) * Width;
        uint8_t *outU = u + size_t(cy) * (Width / 2);
        uint8_t *outV = v + size_t(cy) * (Width / 2);
        for (int cx = 0; cx < Width / 2; ++cx) {
            const uint8_t t = source[xMap[size_t(2 * cx)]];
            outU[cx] = uTable[t];
            outV[cx] = vTable[t];
            if (t > hottestTemperature) {
                hottestTemperature = t;
                hottest = QPoint(2 * cx, 2 * cy);
            }
        }
    }

    const Planes planes{y, u, v};
    if (view.tracking)
        drawTrackingBox(planes, hottest);
    if (view.recording)
        drawRecMark(planes);
}
