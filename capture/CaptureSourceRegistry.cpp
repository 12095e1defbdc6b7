#include "capture/CaptureSourceRegistry.h"

#include <QMutexLocker>
#include <QVector>

#include <algorithm>

namespace {
struct Entry
{
    QString name;
    CaptureSourceRegistry::Source source;
};

QMutex registryMutex;
QVector<Entry> &entries()
{
    static QVector<Entry> list;
    return list;
}
} // namespace

void CaptureSourceRegistry::add(const QString &cardName, const Source &source)
{
    QMutexLocker locker(&registryMutex);
    for (Entry &e : entries()) {
        if (e.name == cardName) {
            e.source = source;
            return;
        }
    }
    entries().append({cardName, source});
}

void CaptureSourceRegistry::remove(const QString &cardName)
{
    QMutexLocker locker(&registryMutex);
    auto &list = entries();
    list.erase(std::remove_if(list.begin(), list.end(), [&](const Entry &e) { return e.name == cardName; }),
               list.end());
}

std::optional<CaptureSourceRegistry::Source> CaptureSourceRegistry::find(const QString &cardName)
{
    QMutexLocker locker(&registryMutex);
    for (const Entry &e : entries()) {
        if (e.name == cardName)
            return e.source;
    }
    return std::nullopt;
}

QStringList CaptureSourceRegistry::names()
{
    QMutexLocker locker(&registryMutex);
    QStringList result;
    for (const Entry &e : entries())
        result << e.name;
    return result;
}
