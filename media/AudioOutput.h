#pragma once

#include <QAudioFormat>
#include <QByteArray>
#include <QElapsedTimer>

#include <atomic>
#include <memory>

class QAudioOutput;
class QIODevice;

// The system's default audio output, through Qt Multimedia, fed in push mode with interleaved signed
// 16-bit little-endian PCM. What the device cannot take at once (a writer that fell behind catches up in a
// burst) waits in a queue of its own and goes out with the next writes, so no sound is lost; only more
// than kPendingMs of it is dropped.
//
// Threads: open() and close() on one thread (the player thread), which owns the Qt output and destroys it
// itself in close(): that thread runs no event loop, so nothing is left to deleteLater(). write() on that
// thread or, in sync mode, on the audio queue thread, never concurrently with open() or close(). The
// counters may be read from any thread.
class AudioOutput
{
public:
    // Playing time Qt Multimedia buffers ahead of playback. The writer hands each packet over when it is
    // due, so the sound server holds about this much before it starts playing: it is the output's latency.
    static constexpr int kBufferBytes = 655360;
    // Silence written ahead of the first sound (and after the sound ran out), so that it plays through.
    static constexpr int kLeadMs = 60;
    static constexpr int kBufferMs = 200;
    static constexpr int kPendingMs = 2000;

    AudioOutput();
    ~AudioOutput();
    AudioOutput(const AudioOutput &) = delete;
    AudioOutput &operator=(const AudioOutput &) = delete;

    // Opens the default device with sampleRate, sampleSize bytes per sample and channelCount channels.
    // False when the device does not take that format; then nothing is open.
    bool open(int sampleRate, int sampleSize, int channelCount);
    // The sampling rate the default device prefers; 0 when there is no device.
    static int preferredRate();
    // An output was opened in this process: Qt's sound backend runs a thread of its own from then on.
    static bool everOpened();
    // Stops playback and releases the Qt output and its device. The counters stay until the next open().
    void close();
    bool isOpen() const { return device != nullptr; }
    // Volume in percent (100 at 1.0); 0 when nothing is open.
    int volumePercent() const;

    // Hands bytes to the device after what still waits; returns the bytes the device took now.
    qint64 write(const char *data, qint64 bytes);

    // Since the last open(): bytes of sound the device took (the lead of silence not counted), their playing
    // time in microseconds, and bytes dropped because the queue was full.
    qint64 bytesWritten() const { return written; }
    qint64 bytesDropped() const { return dropped; }
    qint64 microsecondsWritten() const;
    // Microseconds of what was written that the device has not played yet (0 when nothing is open).
    // The writer's thread.
    qint64 microsecondsBuffered() const;
    // Waits until the device has played what was written and queued, stop is set, or that time has passed
    // twice over. For the end of an input: what close() finds still buffered is lost.
    void drain(const std::atomic<bool> &stop);

private:
    // Hands the device as much of pending as it takes.
    qint64 flush();
    // Bytes the device took that it has not played yet, reckoned from the time since the last restart.
    qint64 levelBytes() const;

    std::unique_ptr<QAudioOutput> output;
    QIODevice *device = nullptr;
    QAudioFormat format;
    // Bytes waiting for room in the device, oldest first; its capacity is reserved at open().
    QByteArray pending;
    QElapsedTimer playing; // since the last restart of the stream
    qint64 sent = 0;       // bytes the device took since then, the lead of silence included
    std::atomic<qint64> written{0};
    std::atomic<qint64> dropped{0};
    std::atomic<int> bytesPerSecond{0};
};
