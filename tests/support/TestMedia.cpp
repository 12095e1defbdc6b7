#include "TestMedia.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>

namespace TestMedia {

bool ffmpeg(const QString &dir, const QString &args)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("ffmpeg"), QStringList{"-y", "-hide_banner", "-loglevel", "error"} +
                                                args.split(' ', Qt::SkipEmptyParts));
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

double difference(const QImage &a, const QImage &b, const QRect &area, int step)
{
    const QRect r = area.isNull() ? a.rect() : area;
    double sum = 0;
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); y += step) {
        for (int x = r.left(); x <= r.right(); x += step, ++n) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += (qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q))) / 3.0;
        }
    }
    return n ? sum / n : 0;
}

double brightness(const QImage &image, const QRect &area, int step)
{
    double sum = 0;
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); y += step) {
        for (int x = area.left(); x <= area.right(); x += step, ++n)
            sum += qGray(image.pixel(x, y));
    }
    return n ? sum / n : 0;
}

QString probeVideo(const QString &file, const QString &entries)
{
    return output(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-count_frames",
                                              "-show_entries", entries, "-of", "default=nw=1", file});
}

bool near(QRgb actual, const QColor &expected, int tolerance)
{
    return qAbs(qRed(actual) - expected.red()) <= tolerance &&
           qAbs(qGreen(actual) - expected.green()) <= tolerance &&
           qAbs(qBlue(actual) - expected.blue()) <= tolerance;
}

QString smpteBarsMismatch(const QImage &image, int tolerance, int level)
{
    if (image.isNull())
        return QStringLiteral("null image");
    // White, yellow, cyan, green, magenta, red, blue, left to right.
    const int l = level;
    const QColor bars[] = {QColor(l, l, l), QColor(l, l, 0), QColor(0, l, l), QColor(0, l, 0),
                           QColor(l, 0, l), QColor(l, 0, 0), QColor(0, 0, l)};
    const int y = image.height() / 4;
    for (int i = 0; i < 7; ++i) {
        const int x = int((i + 0.5) * image.width() / 7);
        const QRgb pixel = image.pixel(x, y);
        if (!near(pixel, bars[i], tolerance))
            return QStringLiteral("bar %1 at %2,%3 is %4, expected %5")
                .arg(QString::number(i), QString::number(x), QString::number(y), QColor(pixel).name(),
                     bars[i].name());
    }
    return QString();
}

quint16 startHttpServer(QProcess &server, const QString &dir)
{
    server.setReadChannel(QProcess::StandardOutput);
    server.start(QStringLiteral("/usr/bin/python3"),
                 {"-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", dir});
    // "Serving HTTP on 127.0.0.1 port 40123 (http://127.0.0.1:40123/) ...", once it listens.
    return quint16(
        waitForLine(server, "Serving HTTP on 127.0.0.1 port ", 15000).split(' ').value(0).toUInt());
}

QString builtProgram(const QString &name)
{
    const QString binaryDir = qEnvironmentVariable("TARN_BINARY_DIR");
    return (binaryDir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/../..")
                                : binaryDir) +
           QStringLiteral("/bin/") + name;
}

QString output(const QString &program, const QStringList &arguments, bool errors)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(errors ? process.readAllStandardError() : process.readAllStandardOutput())
        .trimmed();
}

QByteArray waitForLine(QProcess &process, const QByteArray &prefix, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    do {
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        }
    } while (!deadline.hasExpired() &&
             process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))));
    return QByteArray();
}

} // namespace TestMedia
