#include "TestMedia.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

namespace TestMedia {

bool ffmpeg(const QStringList &args, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("ffmpeg"), QStringList{"-y", "-hide_banner", "-loglevel", "error"} + args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QVector<QColor> smpteBars(int level)
{
    const int l = level;
    return {QColor(l, l, l), QColor(l, l, 0), QColor(0, l, l), QColor(0, l, 0),
            QColor(l, 0, l), QColor(l, 0, 0), QColor(0, 0, l)};
}

bool near(QRgb actual, const QColor &expected, int tolerance)
{
    return qAbs(qRed(actual) - expected.red()) <= tolerance &&
           qAbs(qGreen(actual) - expected.green()) <= tolerance &&
           qAbs(qBlue(actual) - expected.blue()) <= tolerance;
}

bool showsSmpteBars(const QImage &image, int tolerance, QString *why, int level)
{
    if (image.isNull()) {
        if (why)
            *why = QStringLiteral("null image");
        return false;
    }
    const QVector<QColor> bars = smpteBars(level);
    const int y = image.height() / 4;
    for (int i = 0; i < bars.size(); ++i) {
        const int x = int((i + 0.5) * image.width() / bars.size());
        const QRgb pixel = image.pixel(x, y);
        if (!near(pixel, bars.at(i), tolerance)) {
            if (why)
                *why = QStringLiteral("bar %1 at (%2,%3) is %4 %5 %6, expected %7")
                           .arg(i)
                           .arg(x)
                           .arg(y)
                           .arg(qRed(pixel))
                           .arg(qGreen(pixel))
                           .arg(qBlue(pixel))
                           .arg(bars.at(i).name());
            return false;
        }
    }
    return true;
}

quint16 freeTcpPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

quint16 freeUdpPortPair()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress(QHostAddress::LocalHost), 0))
            continue;
        const quint16 port = probe.localPort() & ~1u;
        probe.close();
        QUdpSocket rtp, rtcp;
        if (port > 1024 && rtp.bind(QHostAddress::LocalHost, port) &&
            rtcp.bind(QHostAddress::LocalHost, port + 1))
            return port;
    }
    return 0;
}

bool waitForTcpPort(quint16 port, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200))
            return true;
        QTest::qWait(50);
    }
    return false;
}

} // namespace TestMedia
