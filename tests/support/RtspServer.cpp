#include "RtspServer.h"

#include <QDeadlineTimer>
#include <QFileInfo>

bool RtspServer::start(int timeoutMs)
{
    const QString script =
        QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/rtsp_server.py");
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setReadChannel(QProcess::StandardOutput);
    process.start(QStringLiteral("/usr/bin/python3"),
                  file.isEmpty() ? QStringList{script} : QStringList{script, file});
    if (!process.waitForStarted(timeoutMs))
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!process.canReadLine() &&
            !process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith("ready ")) {
                port = quint16(line.mid(6).toInt());
                return port != 0;
            }
        }
    }
    return false;
}

void RtspServer::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(5000);
}
