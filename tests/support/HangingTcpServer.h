#pragma once

#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

// A TCP port on 127.0.0.1 that accepts connections, sends each one the greeting (if any), and then never
// says another word.
class HangingTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit HangingTcpServer(const QByteArray &greeting = QByteArray())
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this, greeting] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                socket->write(greeting);
                held.append(socket);
            }
        });
    }
    int connections() const { return held.size(); }

private:
    QList<QTcpSocket *> held;
};
