#pragma once

#include <QProcess>
#include <QString>

// python's http.server on 127.0.0.1 serving one directory. It ignores Range requests: serve MP4 files
// written with "-movflags +faststart".
class HttpServer
{
public:
    explicit HttpServer(QString directory) : directory(std::move(directory)) {}
    ~HttpServer() { stop(); }

    bool start(int timeoutMs = 15000);
    void stop();
    QString url(const QString &fileName) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(port).arg(fileName);
    }

private:
    QString directory;
    QProcess process;
    quint16 port = 0;
};
