#pragma once

#include <QObject>

// A process-wide object with no interface of its own, kept as a fixed point for future wiring.
class ConnectCenter : public QObject
{
    Q_OBJECT

public:
    explicit ConnectCenter(QObject *parent = nullptr);
};
