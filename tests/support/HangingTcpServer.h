#pragma once

#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

// A TCP port on 127.0.0.1 that accepts connections and never says a word.
class HangingTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    HangingTcpServer()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                held.append(socket);
        });
    }
    int connections() const { return held.size(); }

private:
    QList<QTcpSocket *> held;
};
