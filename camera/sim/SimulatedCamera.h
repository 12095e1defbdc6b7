#pragma once

#include "camera/sim/ThermalScene.h"
#include "camera/sim/Y4mStreamServer.h"

#include <QByteArray>
#include <QMutex>
#include <QRect>
#include <QString>
#include <QVector>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

class QImage;

// A thermal camera that exists only in this process. While it is plugged in, it is listed among the
// system's cameras with the description "UVC Camera", registered as the capture source "UVC Camera"
// (url "unix:<socket>", format "yuv4mpegpipe"), and its own thread ("SimulatedCamera") writes a live
// 640 × 512 thermal scene at 30 frames per second as a YUV4MPEG2 stream to whoever connects to the
// socket. It answers the vendor library's calls (UVC_CAMERA_*) and acts on the commands visibly:
// contrast 0 toggles a REC mark, 2 a tracking box around the hottest spot, 4 freezes the picture for
// half a second (flat-field correction), 5 steps to the next palette; saturation 10..40 zooms 1.0X..4.0X
// about the centre. On request every frame carries its sequence number in a strip along the bottom.
//
// Threads: every public member may be called from any thread. The vendor calls and the test controls
// never wait for the stream thread, except unplug() and replug(), which stop and start it.
class SimulatedCamera
{
public:
    static constexpr int Width = ThermalScene::Width;
    static constexpr int Height = ThermalScene::Height;
    static constexpr int FramesPerSecond = 30;
    static constexpr int SdkVersion = 110;
    static constexpr int FreezeMs = 500;
    static const char *const Name; // "UVC Camera": card name, friendly name and description
    static const char *const DefaultSerialNumber;

    // The process-wide camera, plugged in on first use; unplugged (socket file removed) at exit.
    static SimulatedCamera &instance();
    ~SimulatedCamera();
    SimulatedCamera(const SimulatedCamera &) = delete;
    SimulatedCamera &operator=(const SimulatedCamera &) = delete;

    // --- The vendor library's side -------------------------------------------------------------
    void select(const QByteArray &name);
    // Fails while unplugged, when the selected name is not "UVC Camera", or once after failNextOpen().
    bool open();
    void close();
    bool isOpen() const { return opened.load(); }
    int width() const { return isOpen() ? Width : 0; }
    int height() const { return isOpen() ? Height : 0; }
    const char *friendlyName() const { return isOpen() ? Name : ""; }
    // Commands are recorded (also while closed) and act only while open; false when closed.
    bool setContrast(int value);
    // Clamped to 10..40, as the device's control range.
    bool setSaturation(int value);
    // Takes the device's current saturation and serial number into the getters below; sleeps first
    // for the refresh delay. False when closed (the getters keep their values).
    bool refresh();
    int saturation() const { return refreshedSaturation.load(); }
    const char *serialNumber() const { return refreshedSerial.load(); }

    // --- Test controls -----------------------------------------------------------------------------
    // Pulls the camera out: the stream connection and the socket close, the device leaves the camera
    // list and the capture source registry, the camera closes and cannot be opened.
    void unplug();
    // Plugs it back in (same socket path): listed, registered, streaming, openable again.
    void replug();
    bool isPluggedIn() const { return plugged.load(); }
    // A stalled camera keeps its connection but writes no frames.
    void setStalled(bool stalled);
    bool isStalled() const { return stalledFlag.load(); }
    // The next open that would succeed fails instead.
    void failNextOpen();
    // Every refresh() sleeps this long first (0 = no delay).
    void setRefreshDelay(int milliseconds);
    // Stamp every frame with its sequence number (a strip of blocks along the bottom), for tests and
    // benchmarks that follow single frames. Off unless asked for, so viewers see a clean picture;
    // reset() leaves it as it is.
    void setFrameNumbersStamped(bool stamped) { stampFrames.store(stamped); }
    void setSerialNumber(const QByteArray &serial);
    // Back to the state after plug-in: plugged, not stalled, closed, no pending failure or delay,
    // white-hot, 1.0X, no box, no REC, default serial, nothing received.
    void reset();

    // --- Observation -------------------------------------------------------------------------------
    // Every value passed to SetContrast / SetSaturation, in order (also those sent while closed).
    QVector<int> receivedContrast() const;
    QVector<int> receivedSaturation() const;
    void clearReceived();
    int paletteIndex() const { return palette.load(); }
    QString paletteName() const { return ThermalScene::paletteName(paletteIndex()); }
    double zoom() const { return zoomTenths.load() / 10.0; }
    bool isTracking() const { return tracking.load(); }
    bool isRecording() const { return recording.load(); }
    bool isFrozen() const;

    QString socketPath() const { return path; }
    QString url() const { return QStringLiteral("unix:") + path; }
    bool hasClient() const { return server.hasClient(); }
    // Stream connections accepted so far.
    int connectionCount() const { return server.connections(); }
    // Frames written completely so far, and the sequence number of the last one (-1: none yet).
    qint64 framesWritten() const { return written.load(); }
    qint64 lastFrameNumber() const { return lastWritten.load(); }
    // steady_clock time (ns since its epoch) at which frame seq was handed to the socket; -1 when unknown
    // (never written, or more than FrameTimeHistory frames ago).
    qint64 frameWrittenAt(qint64 seq) const;
    static constexpr int FrameTimeHistory = 4096;

    // The sequence number stamped into a frame after conversion to RGB (any size with the frame's
    // aspect), or -1 when the picture carries none.
    static int decodeFrameNumber(const QImage &rgb);
    // Where the number lies in a 640 × 512 frame (compare pictures outside it).
    static QRect frameNumberArea();

private:
    SimulatedCamera();
    bool plugInLocked();
    void unplugLocked();
    void run();
    void produceFrame(std::chrono::steady_clock::time_point now);
    static const char *intern(const QByteArray &text);

    const QString path;
    const std::chrono::steady_clock::time_point created;

    QMutex plugMutex; // unplug / replug / reset: one at a time
    std::thread streamThread;
    Y4mStreamServer server;

    // Stream thread only.
    ThermalScene scene;
    std::vector<uint8_t> frame; // "FRAME\n" + Y + U + V

    mutable QMutex stateMutex; // selectedName, deviceSerial, the received lists
    QByteArray selectedName;
    QByteArray deviceSerial;
    QVector<int> contrastValues;
    QVector<int> saturationValues;

    std::atomic<bool> plugged{false};
    std::atomic<bool> opened{false};
    std::atomic<bool> stalledFlag{false};
    std::atomic<bool> failOpen{false};
    std::atomic<int> refreshDelayMs{0};
    std::atomic<bool> stampFrames{false};
    std::atomic<int> palette{0};
    std::atomic<int> zoomTenths{10};
    std::atomic<bool> tracking{false};
    std::atomic<bool> recording{false};
    std::atomic<qint64> frozenUntilNs{0};
    std::atomic<int> refreshedSaturation{10};
    std::atomic<const char *> refreshedSerial;

    std::atomic<qint64> written{0};
    std::atomic<qint64> lastWritten{-1};
    qint64 nextSequence = 0; // stream thread only
    mutable QMutex frameTimeMutex;
    std::array<qint64, FrameTimeHistory> frameTimeSeq{};
    std::array<qint64, FrameTimeHistory> frameTimeNs{};
};
