#include "ControlJournal.h"

#include <QDebug>

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
    calls.append({slot, value});
    qDebug().noquote() << "MainControl double:" << slot;
}

QStringList ControlJournal::callNames() const
{
    QStringList names;
    for (const auto &call : calls)
        names << call.first;
    return names;
}

QVariantList ControlJournal::valuesOf(const QString &slot) const
{
    QVariantList values;
    for (const auto &call : calls) {
        if (call.first == slot)
            values << call.second;
    }
    return values;
}

void ControlJournal::clear()
{
    calls.clear();
    // The test runner installs its own message handler once the tests start: capture on top of it.
    if (!capture)
        capture = std::make_unique<LogCapture>();
    capture->clear();
}
