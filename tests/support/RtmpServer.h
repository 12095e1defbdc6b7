#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// nginx with the RTMP module on 127.0.0.1 (private prefix, config and port), and an ffmpeg that
// publishes a file to it in a loop at its own pace.
class RtmpServer
{
public:
    ~RtmpServer() { stop(); }

    bool start(int timeoutMs = 15000);
    // Publishes file (H.264 + AAC in MP4 or FLV) as live/test; returns once frames are going out.
    bool publish(const QString &file, int timeoutMs = 20000);
    void stop();
    QString url() const { return QStringLiteral("rtmp://127.0.0.1:%1/live/test").arg(port); }

private:
    QTemporaryDir prefix;
    QProcess nginx;
    QProcess publisher;
    quint16 port = 0;
};
