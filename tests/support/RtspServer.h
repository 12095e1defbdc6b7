#pragma once

#include <QProcess>
#include <QString>

// GStreamer's RTSP server on 127.0.0.1 (rtsp_server.py under /usr/bin/python3): a live H.264 stream of
// the SMPTE bars, or the stream of a GStreamer launch line with payloaders pay0, pay1, ...
class RtspServer
{
public:
    ~RtspServer() { stop(); }

    bool start(int timeoutMs = 15000, const QString &launch = QString());
    // Kills the server at once (clients see their connection drop).
    void stop();
    QString url() const { return QStringLiteral("rtsp://127.0.0.1:%1/test").arg(port); }

private:
    QProcess process;
    quint16 port = 0;
};
