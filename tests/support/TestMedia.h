#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QVector>

// Media for tests, made with the ffmpeg command line at test time, and the colours to expect in it.
namespace TestMedia {

// Runs `ffmpeg -y -hide_banner -loglevel error ARGS`; true when it exits with 0.
bool ffmpeg(const QStringList &args, int timeoutMs = 120000);

// The seven top bars of the SMPTE pattern, left to right (white, yellow, cyan, green, magenta, red,
// blue) at the given level: 191 (75 %) for ffmpeg's "smptebars", 255 for GStreamer's "smpte".
QVector<QColor> smpteBars(int level = 191);

// Whether image shows the seven bars of smptebars across its upper third (sampled at a quarter of the
// height), each colour within tolerance per channel. Explains the first mismatch in why.
bool showsSmpteBars(const QImage &image, int tolerance = 40, QString *why = nullptr, int level = 191);

bool near(QRgb actual, const QColor &expected, int tolerance);

// A TCP port nobody listens on right now (the kernel's pick for port 0).
quint16 freeTcpPort();
// An even UDP port whose successor is free too (RTP and RTCP).
quint16 freeUdpPortPair();

// Waits (spinning the event loop) until something accepts TCP connections on 127.0.0.1:port.
bool waitForTcpPort(quint16 port, int timeoutMs);

} // namespace TestMedia
