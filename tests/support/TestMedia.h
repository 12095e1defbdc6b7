#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>

class QProcess;

// Media for tests, made with the ffmpeg command line at test time, and the colours to expect in it.
namespace TestMedia {

// Runs `ffmpeg -y -hide_banner -loglevel error ARGS` in dir (file names may be relative to it); true when
// it exits with 0. ARGS are separated by spaces.
bool ffmpeg(const QString &dir, const QString &args);

// Empty when image shows the seven bars of the SMPTE pattern across its upper third (sampled at a quarter
// of the height), each colour within tolerance per channel; otherwise the first mismatch. level: 191 (75 %)
// for ffmpeg's "smptebars", 255 for GStreamer's "smpte".
QString smpteBarsMismatch(const QImage &image, int tolerance = 40, int level = 191);

bool near(QRgb actual, const QColor &expected, int tolerance);

// Mean absolute difference (0..255 a channel) of two pictures over area (all of a when null), sampled
// at every step-th pixel both ways.
double difference(const QImage &a, const QImage &b, const QRect &area = QRect(), int step = 4);
// Mean brightness (0..255) of area, sampled the same way.
double brightness(const QImage &image, const QRect &area, int step = 4);

// ffprobe's values of ENTRIES ("stream=codec_name,width", "format=duration") of file's first video
// stream, its frames counted by decoding: "key=value" lines.
QString probeVideo(const QString &file, const QString &entries);

// Starts python's http.server on a port of the kernel's choosing that serves dir; its port once it
// listens, 0 when it did not come up.
quint16 startHttpServer(QProcess &server, const QString &dir);

// A program of the build (tarn-tool, ...): under TARN_BINARY_DIR/bin as CTest sets it, otherwise beside the
// test's own build folder (build/tests/<folder>/ -> build/bin), so a test program also runs on its own.
QString builtProgram(const QString &name);

// Runs program to its end (a minute at most); its standard output, or with errors its standard error.
QString output(const QString &program, const QStringList &arguments, bool errors = false);

// Reads process's output lines until one starts with prefix; returns the rest of it, or a null array.
QByteArray waitForLine(QProcess &process, const QByteArray &prefix, int timeoutMs);

} // namespace TestMedia
