#include "Y4mFileStreamer.h"

#include <QFile>
#include <QLocalSocket>

bool Y4mFileStreamer::load(const QString &y4mFile, int width, int height)
{
    QFile file(y4mFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray all = file.readAll();
    const int headerEnd = all.indexOf('\n');
    if (headerEnd < 0)
        return false;
    header = all.left(headerEnd + 1);
    const int frameBytes = width * height * 3 / 2;
    const QByteArray marker("FRAME\n");
    for (int at = headerEnd + 1; at + marker.size() + frameBytes <= all.size();
         at += marker.size() + frameBytes)
        frames.append(all.mid(at, marker.size() + frameBytes));
    return !frames.isEmpty();
}

bool Y4mFileStreamer::listen(const QString &socketPath, int fps)
{
    QLocalServer::removeServer(socketPath);
    if (!server.listen(socketPath))
        return false;
    connect(&server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server.nextPendingConnection()) {
            socket->write(header);
            clients.append(socket);
        }
    });
    connect(&timer, &QTimer::timeout, this, &Y4mFileStreamer::tick);
    timer.start(1000 / fps);
    return true;
}

void Y4mFileStreamer::tick()
{
    if (clients.isEmpty() || (silentAfter >= 0 && sent >= silentAfter))
        return;
    const QByteArray &frame = frames.at(next);
    next = (next + 1) % frames.size();
    for (QLocalSocket *socket : qAsConst(clients)) {
        if (socket->state() == QLocalSocket::ConnectedState)
            socket->write(frame);
    }
    ++sent;
}
