#pragma once

#include "media/FrameTap.h"
#include "media/ImagePool.h"

#include <QImage>
#include <QMutex>
#include <QObject>
#include <QPoint>
#include <QRgb>
#include <QString>
#include <QTimer>

#include <array>
#include <atomic>
#include <vector>

// Reads the temperatures of a split thermal frame and draws the picture from them.
//
// A split frame is YUYV of W x 2H: the picture on top, and below it one 16-bit little-endian value per
// pixel of the same scene, kelvin x 64 (degC = raw / 64 - 273.15). As a frame tap the reader sees each
// frame on the player thread: it copies the bottom half into a buffer of its own before it returns,
// finds the coldest and hottest pixels, the centre's and the pinned spot's values, and draws the
// picture from the values through the chosen palette, stretched over this frame's min..max, into an
// image of its pool. The picture goes out with every frame (pictureReady, queued to receivers on other
// threads); the readings are taken up by a 100 ms timer on the reader's own thread (readingsChanged),
// which the first frame starts and a second without frames stops.
//
// Threads: tapFrame runs on the player thread and allocates nothing once the frame size is known (it
// posts one call to start the timer when frames begin). The palette and the pinned spot are atomics
// that the GUI thread sets; the readings and the latest values pass to the GUI thread under a mutex
// held for a copy or a swap. Everything else (the properties, pinSpot, saveTemperatures) belongs to
// the thread the reader lives on.
class ThermalReader : public QObject, public FrameTap
{
    Q_OBJECT
    Q_PROPERTY(bool active READ active NOTIFY activeChanged)
    Q_PROPERTY(int pictureWidth READ pictureWidth NOTIFY activeChanged)
    Q_PROPERTY(int pictureHeight READ pictureHeight NOTIFY activeChanged)
    Q_PROPERTY(double centreCelsius READ centreCelsius NOTIFY readingsChanged)
    Q_PROPERTY(double minCelsius READ minCelsius NOTIFY readingsChanged)
    Q_PROPERTY(double maxCelsius READ maxCelsius NOTIFY readingsChanged)
    Q_PROPERTY(QPoint minPoint READ minPoint NOTIFY readingsChanged)
    Q_PROPERTY(QPoint maxPoint READ maxPoint NOTIFY readingsChanged)
    Q_PROPERTY(double spotCelsius READ spotCelsius NOTIFY readingsChanged)
    Q_PROPERTY(QPoint spotPoint READ spotPoint NOTIFY readingsChanged)
    Q_PROPERTY(bool spotPinned READ spotPinned NOTIFY readingsChanged)
    Q_PROPERTY(int palette READ palette WRITE setPalette NOTIFY paletteChanged)
    Q_PROPERTY(QString paletteName READ paletteName NOTIFY paletteChanged)

public:
    enum Palette
    {
        WhiteHot,
        BlackHot,
        Iron,
        Rainbow,
        PaletteCount,
    };
    Q_ENUM(Palette)

    // Colours per palette: finer than 256 so that a wide range still shades smoothly.
    static constexpr int kLutSize = 1024;
    // The time between two readingsChanged while frames come.
    static constexpr int kReadingsIntervalMs = 100;

    explicit ThermalReader(QObject *parent = nullptr);

    // FrameTap, player thread.
    void tapFrame(const AVFrame &frame, const Facts &facts) override;

    static double celsius(quint16 raw) { return raw / 64.0 - 273.15; }

    bool active() const { return current.valid; }
    int pictureWidth() const { return current.width; }
    int pictureHeight() const { return current.height; }
    double centreCelsius() const { return celsius(current.centre); }
    double minCelsius() const { return celsius(current.minimum); }
    double maxCelsius() const { return celsius(current.maximum); }
    QPoint minPoint() const { return current.minPoint; }
    QPoint maxPoint() const { return current.maxPoint; }
    double spotCelsius() const { return celsius(current.spot); }
    QPoint spotPoint() const { return current.spotPoint; }
    bool spotPinned() const { return current.spotPinned; }
    int palette() const { return paletteIndex.load(); }
    void setPalette(int palette);
    QString paletteName() const;

    Q_INVOKABLE void nextPalette() { setPalette((palette() + 1) % PaletteCount); }
    // A spot in picture pixels whose value the readings carry from the next frame on; clamped into the
    // picture.
    Q_INVOKABLE void pinSpot(int x, int y);
    Q_INVOKABLE void clearSpot();
    // Forgets the frames seen (the session ended): not active until the next split frame.
    Q_INVOKABLE void reset();

    // Writes the latest frame's values beside a snapshot: <base>-raw16.png (16-bit grey, the raw
    // kelvin x 64 values, W x H) and <base>.csv (degC with two decimals, a line per picture row, W values
    // separated by commas). Each file is written under a temporary name and renamed when whole; when
    // either fails, neither is left behind, and *error says why.
    bool saveTemperatures(const QString &basePath, QString *error);
    Q_INVOKABLE bool saveTemperatures(const QString &basePath)
    {
        return saveTemperatures(basePath, &saveError);
    }
    // Why the last saveTemperatures(basePath) from QML failed.
    Q_INVOKABLE QString lastSaveError() const { return saveError; }

    // The palette's colour table (tests and the benchmark compare pictures with it).
    static const std::array<QRgb, kLutSize> &colours(int palette);

signals:
    // The picture of a split frame, W x H RGB32, from the reader's pool (emitted on the player thread).
    void pictureReady(const QImage &picture);
    void readingsChanged();
    void activeChanged();
    void paletteChanged();

private:
    struct Readings
    {
        bool valid = false;
        int width = 0;
        int height = 0;
        quint16 minimum = 0;
        quint16 maximum = 0;
        quint16 centre = 0;
        quint16 spot = 0;
        QPoint minPoint, maxPoint, spotPoint;
        bool spotPinned = false;
        quint64 frame = 0; // counts the frames read
    };

    // Player thread: the frame's size changed; the buffers and the pool follow it.
    void resize(int width, int height);
    void draw(quint16 minimum, quint16 maximum);
    // GUI thread: takes the readings the player thread left (the timer's tick); stops the timer once
    // no frame has come for a second.
    void publish();

    // --- set on the GUI thread, read by the player thread
    std::atomic<int> paletteIndex{WhiteHot};
    std::atomic<int> pinned{-1}; // y * 65536 + x of the pinned spot; -1: none

    // --- player thread only
    std::vector<quint16> values; // this frame's W x H values
    ImagePool pool;
    int width = 0;
    int height = 0;
    quint64 framesRead = 0;
    int droppedPictures = 0;

    // --- shared under sharedMutex: the newest readings, and the newest whole frame of values
    mutable QMutex sharedMutex;
    Readings shared;
    std::vector<quint16> latest;
    int latestWidth = 0;
    int latestHeight = 0;
    std::atomic<bool> polling{false}; // the timer runs, or its start is posted

    // --- GUI thread
    QTimer *pollTimer;
    int idleTicks = 0;
    Readings current;
    QString saveError;
};
