#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A PulseAudio server of the test's own: per-user, in a private runtime directory, with one null sink
// "tarn" at 48 kHz as the default output. start() points this process's XDG_RUNTIME_DIR at it, so it must
// run before anything in the process asks Qt Multimedia for a device. Recording reads the sink's monitor
// with parec, as interleaved signed 16-bit stereo at 48 kHz.
class PulseServer
{
public:
    static constexpr int kRate = 48000;

    PulseServer() = default;
    ~PulseServer() { stop(); }
    PulseServer(const PulseServer &) = delete;
    PulseServer &operator=(const PulseServer &) = delete;

    // False, with the reason in error(), when the server did not come up.
    bool start(int timeoutMs = 15000);
    void stop();
    QString error() const { return failure; }
    QString runtimeDir() const { return runtime.path(); }

    // Starts recording the sink; false when parec did not start.
    bool startRecording();
    // Stops recording and returns the samples taken (interleaved, left first).
    QByteArray stopRecording();

private:
    bool pactl(const QStringList &arguments, int timeoutMs = 5000);

    QTemporaryDir runtime;
    QProcess recorder;
    QString failure;
    bool running = false;
};
