#include "RtmpServer.h"

#include "TestMedia.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTest>

bool RtmpServer::start(int timeoutMs)
{
    if (!prefix.isValid())
        return false;
    const QString dir = prefix.path();
    const QString pidFile = dir + QStringLiteral("/nginx.pid");
    const QDeadlineTimer deadline(timeoutMs);
    // nginx binds the port itself: when another program took it first, nginx exits and another is tried.
    while (!deadline.hasExpired()) {
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            port = probe.serverPort();
        }
        QFile config(dir + QStringLiteral("/nginx.conf"));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write(QStringLiteral("load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
                                    "daemon off;\nmaster_process off;\n"
                                    "error_log %1/error.log;\npid %2;\n"
                                    "events { worker_connections 64; }\n"
                                    "rtmp { server { listen 127.0.0.1:%3; chunk_size 4096;\n"
                                    "  application live { live on; record off; } } }\n")
                         .arg(dir, pidFile)
                         .arg(port)
                         .toUtf8());
        config.close();
        QFile::remove(pidFile);
        nginx.setProcessChannelMode(QProcess::ForwardedChannels);
        nginx.start(QStringLiteral("nginx"),
                    {"-p", dir, "-c", config.fileName(), "-e", dir + QStringLiteral("/error.log")});
        if (!nginx.waitForStarted(int(deadline.remainingTime())))
            return false;
        // nginx writes its pid file once its ports are open, and exits when it cannot open them.
        if (QTest::qWaitFor(
                [&] { return QFileInfo::exists(pidFile) || nginx.state() == QProcess::NotRunning; },
                int(deadline.remainingTime())) &&
            nginx.state() == QProcess::Running)
            return true;
        nginx.kill();
        nginx.waitForFinished(5000);
    }
    return false;
}

bool RtmpServer::publish(const QString &file, int timeoutMs)
{
    publisher.setProcessChannelMode(QProcess::SeparateChannels);
    publisher.setReadChannel(QProcess::StandardOutput);
    publisher.start(QStringLiteral("ffmpeg"),
                    {"-hide_banner", "-loglevel", "error", "-nostats", "-progress", "pipe:1", "-re",
                     "-stream_loop", "-1", "-i", file, "-c", "copy", "-f", "flv", url()});
    if (!publisher.waitForStarted(timeoutMs))
        return false;
    // -progress prints "frame=N" lines; the first with N > 0 means frames are going out.
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (TestMedia::waitForLine(publisher, "frame=", int(deadline.remainingTime())).toInt() > 0)
            return true;
    }
    return false;
}

void RtmpServer::stop()
{
    for (QProcess *process : {&publisher, &nginx}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}
