#include "ControlJournal.h"

#include <QDebug>
#include <QVariantMap>

ControlJournal *ControlJournal::instance()
{
    static ControlJournal journal;
    return &journal;
}

void ControlJournal::attach(QObject *controlDouble)
{
    current = controlDouble;
    emit controlChanged();
}

void ControlJournal::detach(QObject *controlDouble)
{
    if (current == controlDouble) {
        current = nullptr;
        emit controlChanged();
    }
}

void ControlJournal::record(const QString &slot, const QVariant &value)
{
    callList.append(QVariantMap{{QStringLiteral("name"), slot}, {QStringLiteral("value"), value}});
    qDebug().noquote() << "MainControl double:" << slot;
}

QStringList ControlJournal::callNames() const
{
    QStringList names;
    for (const QVariant &call : callList)
        names << call.toMap().value(QStringLiteral("name")).toString();
    return names;
}

QVariantList ControlJournal::valuesOf(const QString &slot) const
{
    QVariantList values;
    for (const QVariant &call : callList) {
        const QVariantMap map = call.toMap();
        if (map.value(QStringLiteral("name")).toString() == slot)
            values << map.value(QStringLiteral("value"));
    }
    return values;
}

QStringList ControlJournal::lines() const
{
    return capture ? capture->lines() : QStringList();
}

int ControlJournal::lineIndex(const QString &text) const
{
    return lines().indexOf(text);
}

void ControlJournal::clear()
{
    callList.clear();
    // The test runner installs its own message handler once the tests start: capture on top of it.
    if (!capture)
        capture = std::make_unique<LogCapture>();
    capture->clear();
}
