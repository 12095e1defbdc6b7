#include "thermal/ThermalReader.h"

#include "thermal/ThermalLog.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <QFile>
#include <QMutexLocker>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
struct Stop
{
    double at;
    int r, g, b;
};

// The colour table of a ramp through the stops (positions 0..1, in order).
std::array<QRgb, ThermalReader::kLutSize> ramp(std::initializer_list<Stop> stops)
{
    std::array<QRgb, ThermalReader::kLutSize> table{};
    const Stop *begin = stops.begin();
    for (int i = 0; i < ThermalReader::kLutSize; ++i) {
        const double t = double(i) / (ThermalReader::kLutSize - 1);
        const Stop *next = begin + 1;
        while (next + 1 < stops.end() && next->at < t)
            ++next;
        const Stop &a = *(next - 1), &b = *next;
        const double f = b.at > a.at ? std::clamp((t - a.at) / (b.at - a.at), 0.0, 1.0) : 1.0;
        auto mix = [f](int from, int to) {
            return int(std::lround(from + (to - from) * f));
        };
        table[size_t(i)] = qRgb(mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b));
    }
    return table;
}

const std::array<std::array<QRgb, ThermalReader::kLutSize>, ThermalReader::PaletteCount> &palettes()
{
    static const std::array<std::array<QRgb, ThermalReader::kLutSize>, ThermalReader::PaletteCount> tables =
        [] {
            std::array<std::array<QRgb, ThermalReader::kLutSize>, ThermalReader::PaletteCount> t;
            t[ThermalReader::WhiteHot] = ramp({{0, 0, 0, 0}, {1, 255, 255, 255}});
            // Exactly the white-hot ramp turned over: a cold pixel of one is as bright as a hot one of the
            // other.
            for (size_t i = 0; i < t[0].size(); ++i) {
                const int grey = 255 - qGray(t[ThermalReader::WhiteHot][i]);
                t[ThermalReader::BlackHot][i] = qRgb(grey, grey, grey);
            }
            // Cold black through violet and red to hot yellow and white, as hot metal glows.
            t[ThermalReader::Iron] = ramp({{0, 0, 0, 0},
                                           {0.15, 40, 0, 120},
                                           {0.35, 160, 0, 150},
                                           {0.55, 230, 50, 40},
                                           {0.75, 250, 150, 0},
                                           {0.9, 255, 225, 60},
                                           {1, 255, 255, 255}});
            t[ThermalReader::Rainbow] = ramp(
                {{0, 0, 0, 255}, {0.25, 0, 255, 255}, {0.5, 0, 255, 0}, {0.75, 255, 255, 0}, {1, 255, 0, 0}});
            return t;
        }();
    return tables;
}

// degC with two decimals, written without the C library so that the locale cannot make it a comma.
void appendCelsius(QByteArray &out, quint16 raw)
{
    // raw / 64 - 273.15 in hundredths: raw * 100 / 64 - 27315, exact in sixteenths of a hundredth.
    const long hundredths = std::lround((long(raw) * 25 - 27315L * 16) / 16.0);
    if (hundredths < 0)
        out += '-';
    const long magnitude = std::labs(hundredths);
    out += QByteArray::number(qlonglong(magnitude / 100));
    out += '.';
    out += char('0' + magnitude / 10 % 10);
    out += char('0' + magnitude % 10);
}
} // namespace

ThermalReader::ThermalReader(QObject *parent) : QObject(parent), pool(4), pollTimer(new QTimer(this))
{
    palettes(); // built here, not on the player thread's first frame
    pollTimer->setInterval(kReadingsIntervalMs);
    connect(pollTimer, &QTimer::timeout, this, &ThermalReader::publish);
}

const std::array<QRgb, ThermalReader::kLutSize> &ThermalReader::colours(int palette)
{
    return palettes()[size_t(std::clamp(palette, 0, PaletteCount - 1))];
}

void ThermalReader::setPalette(int palette)
{
    const int value = ((palette % PaletteCount) + PaletteCount) % PaletteCount;
    if (paletteIndex.exchange(value) != value)
        emit paletteChanged();
}

QString ThermalReader::paletteName() const
{
    static const char *const names[] = {"white-hot", "black-hot", "iron", "rainbow"};
    return QString::fromLatin1(names[size_t(palette())]);
}

void ThermalReader::pinSpot(int x, int y)
{
    if (current.width > 0) {
        x = std::clamp(x, 0, current.width - 1);
        y = std::clamp(y, 0, current.height - 1);
    }
    pinned = std::clamp(y, 0, 32767) * 65536 + std::clamp(x, 0, 65535);
}

void ThermalReader::clearSpot()
{
    pinned = -1;
}

void ThermalReader::reset()
{
    {
        QMutexLocker lock(&sharedMutex);
        shared = Readings();
        latestWidth = latestHeight = 0;
    }
    const bool wasActive = current.valid;
    current = Readings();
    if (wasActive)
        emit activeChanged();
    emit readingsChanged();
}

void ThermalReader::resize(int w, int h)
{
    width = w;
    height = h;
    values.assign(size_t(w) * size_t(h), 0);
    {
        QMutexLocker lock(&sharedMutex);
        latest.assign(values.size(), 0);
        latestWidth = latestHeight = 0; // nothing whole of this size yet
    }
    if (!pool.reset(w, h))
        qCWarning(lcThermal) << "no memory for pictures of" << w << "x" << h;
    qCInfo(lcThermal) << "split frames: picture" << w << "x" << h << "over its temperatures";
}

void ThermalReader::tapFrame(const AVFrame &frame, const Facts &)
{
    // Only YUYV holds a picture over 16-bit values in its rows (two bytes a pixel, as the values need).
    if (frame.format != AV_PIX_FMT_YUYV422 || frame.width <= 0 || frame.height < 2 || frame.height % 2 ||
        !frame.data[0] || frame.linesize[0] < 2 * frame.width)
        return;
    const int w = frame.width, h = frame.height / 2;
    if (w != width || h != height)
        resize(w, h);

    // The copy: the frame's buffer goes back to the camera when this returns.
    const uint8_t *bottom = frame.data[0] + size_t(h) * size_t(frame.linesize[0]);
    for (int y = 0; y < h; ++y)
        qFromLittleEndian<quint16>(bottom + size_t(y) * size_t(frame.linesize[0]), w,
                                   values.data() + size_t(y) * size_t(w));

    Readings r;
    r.valid = true;
    r.frame = ++framesRead;
    r.width = w;
    r.height = h;
    size_t lowAt = 0, highAt = 0;
    quint16 low = values[0], high = values[0];
    for (size_t i = 1; i < values.size(); ++i) {
        const quint16 v = values[i];
        if (v < low) {
            low = v;
            lowAt = i;
        } else if (v > high) {
            high = v;
            highAt = i;
        }
    }
    r.minimum = low;
    r.maximum = high;
    r.minPoint = QPoint(int(lowAt % size_t(w)), int(lowAt / size_t(w)));
    r.maxPoint = QPoint(int(highAt % size_t(w)), int(highAt / size_t(w)));
    r.centre = values[size_t(h / 2) * size_t(w) + size_t(w / 2)];
    const int spot = pinned.load();
    if (spot >= 0) {
        r.spotPinned = true;
        r.spotPoint = QPoint(std::min(spot & 0xffff, w - 1), std::min(spot >> 16, h - 1));
    } else {
        r.spotPoint = QPoint(w / 2, h / 2);
    }
    r.spot = values[size_t(r.spotPoint.y()) * size_t(w) + size_t(r.spotPoint.x())];

    draw(low, high);

    {
        QMutexLocker lock(&sharedMutex);
        shared = r;
        values.swap(latest); // no copy: the next frame fills the older buffer
        latestWidth = w;
        latestHeight = h;
    }
    // Frames begin: the timer is started on the reader's thread (the one call that allocates).
    if (!polling.exchange(true))
        QMetaObject::invokeMethod(
            this,
            [this] {
                idleTicks = 0;
                pollTimer->start();
                publish();
            },
            Qt::QueuedConnection);
}

void ThermalReader::draw(quint16 low, quint16 high)
{
    QImage *image = pool.acquire();
    if (!image) {
        // Every picture is still held by its receivers: this frame is read but not drawn.
        if (droppedPictures++ % 100 == 0)
            qCDebug(lcThermal) << "pictures dropped, receivers hold every image:" << droppedPictures;
        return;
    }
    const std::array<QRgb, kLutSize> &lut = colours(paletteIndex.load());
    // (v - low) * scale >> 16 spans the table; range * scale stays below 2^26, inside 32 bits.
    const quint32 range = quint32(high - low);
    const quint32 scale = range ? (quint32(kLutSize - 1) << 16) / range : 0;
    for (int y = 0; y < height; ++y) {
        const quint16 *in = values.data() + size_t(y) * size_t(width);
        auto *out = reinterpret_cast<QRgb *>(image->scanLine(y));
        for (int x = 0; x < width; ++x)
            out[x] = lut[(quint32(in[x] - low) * scale) >> 16];
    }
    emit pictureReady(*image);
}

void ThermalReader::publish()
{
    Readings r;
    {
        QMutexLocker lock(&sharedMutex);
        r = shared;
    }
    if (!r.valid || (current.valid && r.frame == current.frame)) {
        // No new frame: after a second of none the timer stops, and the next frame starts it again.
        if (++idleTicks >= 1000 / kReadingsIntervalMs) {
            pollTimer->stop();
            polling = false;
        }
        return;
    }
    idleTicks = 0;
    const bool changedShape = !current.valid || current.width != r.width || current.height != r.height;
    current = r;
    if (changedShape)
        emit activeChanged();
    emit readingsChanged();
}

bool ThermalReader::saveTemperatures(const QString &basePath, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        qCWarning(lcThermal).noquote() << "temperatures not saved:" << why;
        return false;
    };
    std::vector<quint16> frame;
    int w = 0, h = 0;
    {
        QMutexLocker lock(&sharedMutex);
        if (latestWidth == 0)
            return fail(QStringLiteral("no temperature frame has come yet"));
        frame = latest;
        w = latestWidth;
        h = latestHeight;
    }

    QImage raw(w, h, QImage::Format_Grayscale16);
    if (raw.isNull())
        return fail(QStringLiteral("no memory for a %1x%2 image").arg(w).arg(h));
    for (int y = 0; y < h; ++y)
        std::memcpy(raw.scanLine(y), frame.data() + size_t(y) * size_t(w), size_t(w) * 2);
    QByteArray csv;
    csv.reserve(w * h * 7 + h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (x > 0)
                csv += ',';
            appendCelsius(csv, frame[size_t(y) * size_t(w) + size_t(x)]);
        }
        csv += '\n';
    }

    // Both are written to temporary files first; the names appear only when both are whole.
    const QString pngPath = basePath + QStringLiteral("-raw16.png");
    const QString csvPath = basePath + QStringLiteral(".csv");
    QSaveFile png(pngPath), text(csvPath);
    if (!png.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("%1: %2").arg(pngPath, png.errorString()));
    if (!raw.save(&png, "PNG"))
        return fail(QStringLiteral("%1: %2").arg(pngPath, png.errorString()));
    if (!text.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("%1: %2").arg(csvPath, text.errorString()));
    if (text.write(csv) != csv.size())
        return fail(QStringLiteral("%1: %2").arg(csvPath, text.errorString()));
    if (!png.commit())
        return fail(QStringLiteral("%1: %2").arg(pngPath, png.errorString()));
    if (!text.commit()) {
        QFile::remove(pngPath);
        return fail(QStringLiteral("%1: %2").arg(csvPath, text.errorString()));
    }
    if (error)
        error->clear();
    return true;
}
