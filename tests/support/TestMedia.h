#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QVector>

class QProcess;

// Media for tests, made with the ffmpeg command line at test time, and the colours to expect in it.
namespace TestMedia {

// Runs `ffmpeg -y -hide_banner -loglevel error ARGS` in dir (file names may be relative to it); true when
// it exits with 0. ARGS are separated by spaces.
bool ffmpeg(const QString &dir, const QString &args);

// The seven top bars of the SMPTE pattern, left to right (white, yellow, cyan, green, magenta, red,
// blue) at the given level: 191 (75 %) for ffmpeg's "smptebars", 255 for GStreamer's "smpte".
QVector<QColor> smpteBars(int level = 191);

// Empty when image shows the seven bars across its upper third (sampled at a quarter of the height),
// each colour within tolerance per channel; otherwise the first mismatch.
QString smpteBarsMismatch(const QImage &image, int tolerance = 40, int level = 191);

bool near(QRgb actual, const QColor &expected, int tolerance);

// A TCP port nobody listens on right now (the kernel's pick for port 0).
quint16 freeTcpPort();
// An even UDP port whose successor is free too (RTP and RTCP).
quint16 freeUdpPortPair();

// Reads process's output lines until one starts with prefix; returns the rest of it, or a null array.
QByteArray waitForLine(QProcess &process, const QByteArray &prefix, int timeoutMs);

// Waits (spinning the event loop) until something accepts TCP connections on 127.0.0.1:port.
bool waitForTcpPort(quint16 port, int timeoutMs);

} // namespace TestMedia
