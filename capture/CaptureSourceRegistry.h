#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

// Capture sources that are not V4L2 nodes but are opened like devices, by name: the simulated camera
// registers its stream here while it is plugged in. Thread-safe: any thread may register, unregister
// and look up.
class CaptureSourceRegistry
{
public:
    struct Source
    {
        QString url;    // what FFmpeg opens, e.g. "unix:/tmp/tarn-sim.sock"
        QString format; // the input format's short name, e.g. "yuv4mpegpipe"; empty = probe
    };

    static void add(const QString &cardName, const Source &source);
    static void remove(const QString &cardName);
    static std::optional<Source> find(const QString &cardName);
    static QStringList names();
};
