#pragma once

#include <QAudioFormat>

#include <atomic>
#include <memory>

class QAudioOutput;
class QIODevice;

// The system's default audio output, through Qt Multimedia, fed in push mode with interleaved signed
// 16-bit little-endian PCM.
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
    static constexpr int kBufferMs = 200;

    AudioOutput();
    ~AudioOutput();
    AudioOutput(const AudioOutput &) = delete;
    AudioOutput &operator=(const AudioOutput &) = delete;

    // Opens the default device with sampleRate, sampleSize bytes per sample and channelCount channels.
    // False when the device does not take that format; then nothing is open.
    bool open(int sampleRate, int sampleSize, int channelCount);
    // Stops playback and releases the Qt output and its device. The counters stay until the next open().
    void close();
    bool isOpen() const { return device != nullptr; }
    // Volume in percent (100 at 1.0); 0 when nothing is open.
    int volumePercent() const;

    // Hands bytes to the device; what its buffer cannot take is dropped. Returns the bytes it took.
    qint64 write(const char *data, qint64 bytes);

    // Since the last open(): bytes the device took, and their playing time in microseconds.
    qint64 bytesWritten() const { return written; }
    qint64 microsecondsWritten() const;
    // Microseconds of what was written that the device has not played yet (0 when nothing is open).
    qint64 microsecondsBuffered() const;
    // Waits until the device has played what was written, stop is set, or the buffer's time has passed
    // twice over. For the end of an input: what close() finds still buffered is lost.
    void drain(const std::atomic<bool> &stop);

private:
    std::unique_ptr<QAudioOutput> output;
    QIODevice *device = nullptr;
    QAudioFormat format;
    std::atomic<qint64> written{0};
    std::atomic<int> bytesPerSecond{0};
};
