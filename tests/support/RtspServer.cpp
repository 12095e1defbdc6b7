#include "RtspServer.h"

#include "TestMedia.h"

#include <QFileInfo>

bool RtspServer::start(int timeoutMs)
{
    process.setReadChannel(QProcess::StandardOutput);
    process.start(QStringLiteral("/usr/bin/python3"),
                  {QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/rtsp_server.py")});
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
