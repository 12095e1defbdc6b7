#include "RtspServer.h"

#include "TestMedia.h"

#include <QFileInfo>

bool RtspServer::start(int timeoutMs, const QString &launch)
{
    process.setReadChannel(QProcess::StandardOutput);
    QStringList arguments{QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
                          QStringLiteral("/rtsp_server.py")};
    if (!launch.isEmpty())
        arguments << launch;
    process.start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!process.waitForStarted(timeoutMs))
        return false;
    port = quint16(TestMedia::waitForLine(process, "ready ", timeoutMs).toInt());
    return port != 0;
}

void RtspServer::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(5000);
}
