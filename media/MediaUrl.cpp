#include "media/MediaUrl.h"

#include "media/LogTime.h"
#include "media/MediaLog.h"
#include "media/PlayerSettings.h"

extern "C" {
#include <libavutil/dict.h>
}

#include <QEventLoop>
#include <QRegularExpression>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

namespace {
// Socket-level bound of every wait inside a network protocol, in microseconds.
const char *const kSocketTimeout = "3000000";

bool startsWithAnyCase(const QString &text, const char *prefix)
{
    return text.startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
}
} // namespace

namespace MediaUrl {

bool isNetwork(const QString &url)
{
    return startsWithAnyCase(url, "rtsp") || startsWithAnyCase(url, "rtmp") || startsWithAnyCase(url, "http");
}

bool isDevice(const QString &url)
{
    return url.startsWith(QLatin1String("video=")) || url.startsWith(QLatin1String("/dev/"));
}

DeviceSuffix parseDeviceSuffix(const QString &url)
{
    DeviceSuffix suffix;
    suffix.url = url;
    if (!isDevice(url) || !url.contains(QLatin1Char('|')) || !url.contains(QLatin1Char('x')))
        return suffix;
    const QStringList parts = url.split(QLatin1Char('|'));
    suffix.url = parts.at(0);
    suffix.hasSize = true;
    suffix.sizePart = parts.at(1);
    // "WIDTHxHEIGHT"; a missing or non-numeric piece gives 0, and a size with a 0 is not requested.
    const QStringList size = suffix.sizePart.split(QLatin1Char('x'));
    suffix.width = size.at(0).toInt();
    suffix.height = size.size() > 1 ? size.at(1).toInt() : 0;
    if (parts.size() >= 3) {
        suffix.hasRate = true;
        suffix.frameRate = parts.at(2).toInt();
    }
    return suffix;
}

ConnectTarget connectTarget(const QString &url)
{
    static const QRegularExpression ipv4(
        QStringLiteral("((?:(?:25[0-5]|2[0-4]\\d|[01]?\\d?\\d)\\.){3}(?:25[0-5]|2[0-4]\\d|[01]?\\d?\\d))"));
    ConnectTarget target;
    const auto match = ipv4.match(url);
    target.host = match.hasMatch() ? match.captured(1) : url;

    const QStringList parts = url.split(QLatin1Char(':'));
    const int portPart = url.contains(QLatin1Char('@')) ? 3 : 2;
    if (parts.size() >= 3 && portPart < parts.size()) {
        QString piece = parts.at(portPart);
        const int slash = piece.indexOf(QLatin1Char('/'));
        if (slash >= 0)
            piece.truncate(slash);
        bool ok = false;
        const int port = piece.toInt(&ok);
        if (ok && port > 0 && port < 65536)
            target.port = quint16(port);
    }
    return target;
}

bool checkConnect(const QString &url, int timeoutMs)
{
    const ConnectTarget target = connectTarget(url);
    QTcpSocket socket;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    socket.connectToHost(target.host, target.port);
    if (socket.state() != QAbstractSocket::ConnectedState &&
        socket.state() != QAbstractSocket::UnconnectedState)
        loop.exec();
    const bool connected = socket.state() == QAbstractSocket::ConnectedState;
    socket.abort();
    if (!connected)
        qCDebug(lcMedia) << TIMEMS << url << "connect error";
    return connected;
}

void addInputOptions(AVDictionary **options, const PlayerSettings &settings)
{
    auto set = [options](const char *key, const QByteArray &value) {
        av_dict_set(options, key, value.constData(), 0);
    };
    const QString &url = settings.url;
    set("buffer_size", "8192000");
    set("rtsp_transport", settings.transport.toUtf8());
    // RTSP calls its socket time-out "timeout"; for RTMP "timeout" would mean "listen", so RTMP, HTTP
    // and the other socket protocols get "rw_timeout".
    if (startsWithAnyCase(url, "rtsp"))
        set("timeout", kSocketTimeout);
    else if (startsWithAnyCase(url, "rtmp") || startsWithAnyCase(url, "http") ||
             startsWithAnyCase(url, "tcp:") || startsWithAnyCase(url, "udp:") ||
             startsWithAnyCase(url, "rtp:") || startsWithAnyCase(url, "unix:"))
        set("rw_timeout", kSocketTimeout);
    set("max_delay", "1000000");
    set("threads", "auto");
    // An SDP file opens RTP and UDP itself, which the file protocol does not allow by default.
    if (url.endsWith(QLatin1String(".sdp")))
        set("protocol_whitelist", "file,udp,rtp,crypto,data");

    if (settings.isDevice) {
        if (settings.videoWidth > 0 && settings.videoHeight > 0)
            set("video_size",
                QStringLiteral("%1x%2").arg(settings.videoWidth).arg(settings.videoHeight).toUtf8());
        if (settings.frameRate != 0)
            set("framerate", QByteArray::number(settings.frameRate));
    }
}

void applyUrl(PlayerSettings &settings, const QString &url)
{
    settings.url = url;
    if (url.isEmpty())
        return;
    settings.isNetwork = isNetwork(url);
    settings.isDevice = isDevice(url);
    const DeviceSuffix suffix = parseDeviceSuffix(url);
    if (!suffix.hasSize)
        return;
    settings.url = suffix.url;
    settings.videoWidth = suffix.width;
    settings.videoHeight = suffix.height;
    qCDebug(lcMedia) << TIMEMS << settings.fileFlag << "Adjust the size" << url << suffix.sizePart;
    if (suffix.hasRate) {
        settings.frameRate = suffix.frameRate;
        qCDebug(lcMedia) << TIMEMS << settings.fileFlag << "Adjust the FPS" << url << suffix.frameRate;
    }
}

void applyOpenRules(PlayerSettings &settings)
{
    if (settings.isDevice)
        settings.hardware = QStringLiteral("none");
    if (startsWithAnyCase(settings.url, "rtmp"))
        settings.saveMp4 = false;
}

bool mayRecord(const PlayerSettings &settings, bool hasVideo)
{
    const QString &url = settings.url;
    // A local file without a length (raw H.264) counts as a stream for playback, but it is no network
    // input: only URLs with a scheme, and RTP descriptions, record.
    const bool stream =
        settings.isNetwork && (url.contains(QLatin1String("://")) || url.endsWith(QLatin1String(".sdp")));
    return hasVideo &&
           (stream || (url.startsWith(QLatin1String("http")) && url.endsWith(QLatin1String("mp4"))));
}

} // namespace MediaUrl
