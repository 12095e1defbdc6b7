#include "RtmpServer.h"

#include "TestMedia.h"

#include <QDeadlineTimer>
#include <QFile>

bool RtmpServer::start(int timeoutMs)
{
    if (!prefix.isValid())
        return false;
    port = TestMedia::freeTcpPort();
    const QString dir = prefix.path();
    QFile config(dir + QStringLiteral("/nginx.conf"));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(QStringLiteral("load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
                                "daemon off;\nmaster_process off;\n"
                                "error_log %1/error.log;\npid %1/nginx.pid;\n"
                                "events { worker_connections 64; }\n"
                                "rtmp { server { listen 127.0.0.1:%2; chunk_size 4096;\n"
                                "  application live { live on; record off; } } }\n")
                     .arg(dir)
                     .arg(port)
                     .toUtf8());
    config.close();
    nginx.setProcessChannelMode(QProcess::ForwardedChannels);
    nginx.start(QStringLiteral("nginx"), {"-p", dir, "-c", dir + QStringLiteral("/nginx.conf"), "-e",
                                          dir + QStringLiteral("/error.log")});
    return nginx.waitForStarted(timeoutMs) && TestMedia::waitForTcpPort(port, timeoutMs);
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
