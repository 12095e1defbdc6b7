#include "LogCapture.h"

#include <QMutexLocker>
#include <QTest>

namespace {
QMutex captureMutex;
QStringList captured;
QtMessageHandler previous = nullptr;
bool active = false;

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QtMessageHandler next;
    {
        QMutexLocker locker(&captureMutex);
        // A copy of our own: the message's text is shared with Qt, which releases it on the logging thread.
        if (active)
            captured << QString(message.constData(), message.size());
        next = previous;
    }
    if (next)
        next(type, context, message);
}
} // namespace

LogCapture::LogCapture()
{
    QMutexLocker locker(&captureMutex);
    captured.clear();
    active = true;
    previous = qInstallMessageHandler(handler);
}

LogCapture::~LogCapture()
{
    QMutexLocker locker(&captureMutex);
    qInstallMessageHandler(previous);
    active = false;
    captured.clear();
}

QStringList LogCapture::lines() const
{
    QMutexLocker locker(&captureMutex);
    return captured;
}

QStringList LogCapture::matching(const QString &text) const
{
    return lines().filter(text);
}

int LogCapture::indexOf(const QString &text, int from) const
{
    const QStringList all = lines();
    for (int i = qMax(0, from); i < all.size(); ++i) {
        if (all.at(i).contains(text))
            return i;
    }
    return -1;
}

bool LogCapture::inOrder(const QStringList &texts) const
{
    int at = 0;
    for (const QString &text : texts) {
        const int found = indexOf(text, at);
        if (found < 0)
            return false;
        at = found + 1;
    }
    return true;
}

bool LogCapture::waitFor(const QString &text, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return indexOf(text) >= 0; }, timeoutMs);
}

void LogCapture::clear()
{
    QMutexLocker locker(&captureMutex);
    captured.clear();
}
