#include "HttpServer.h"

#include "TestMedia.h"

bool HttpServer::start(int timeoutMs)
{
    port = TestMedia::freeTcpPort();
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("/usr/bin/python3"), {"-m", "http.server", QString::number(port), "--bind",
                                                       "127.0.0.1", "--directory", directory});
    return process.waitForStarted(timeoutMs) && TestMedia::waitForTcpPort(port, timeoutMs);
}

void HttpServer::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(5000);
}
