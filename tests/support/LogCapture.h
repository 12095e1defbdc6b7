#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

// Captures every line written to Qt's message handler while it lives (from any thread), and still
// passes it on to the previous handler so test logs show them.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    // Lines that contain text, in order.
    QStringList matching(const QString &text) const;
    bool contains(const QString &text) const { return !matching(text).isEmpty(); }
    // Index of the first line at or after from that contains text, or -1.
    int indexOf(const QString &text, int from = 0) const;
    // True when each text appears in a line after the previous one's line.
    bool inOrder(const QStringList &texts) const;
    // Waits (spinning the event loop) until a line contains text.
    bool waitFor(const QString &text, int timeoutMs) const;
    void clear();
};
