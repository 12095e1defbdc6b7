#pragma once
// Time stamps that lead the player's log lines. Printed as plain text (no quotes) on Qt's debug stream.

#include <QDateTime>
#include <QTime>

// "HH:mm:ss zzz", the first item of every player line.
#define TIMEMS qUtf8Printable(QTime::currentTime().toString(QStringLiteral("HH:mm:ss zzz")))
// "yyyy-MM-dd-HH-mm-ss-zzz", used by the open-step lines and the property refresh.
#define DATETIMEMS                                                                                           \
    qUtf8Printable(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HH-mm-ss-zzz")))
