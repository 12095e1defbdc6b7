#pragma once

#include "LogCapture.h"

#include <QObject>
#include <QPair>
#include <QPointer>
#include <QStringList>
#include <QVariantList>

#include <memory>

// What the window did to its controller: every slot call the controller double received, in order,
// with its argument, and every log line (console lines of the window included) around them.
// Published to the test documents as "journal". Main thread only.
class ControlJournal : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QObject *control READ control NOTIFY controlChanged)

public:
    static ControlJournal *instance();

    QObject *control() const { return current; }

    // Called by the controller double: the one that a window creates becomes the current control.
    void attach(QObject *controlDouble);
    void detach(QObject *controlDouble);
    void record(const QString &slot, const QVariant &value = QVariant());

    // Names of the calls since the last clear(), in order.
    Q_INVOKABLE QStringList callNames() const;
    // Arguments of the calls of one slot, in order.
    Q_INVOKABLE QVariantList valuesOf(const QString &slot) const;
    // Index of the first log line since the last clear() that equals text, or -1. Slot calls are
    // logged as "MainControl double: <slot>".
    Q_INVOKABLE int lineIndex(const QString &text) const
    {
        return capture ? capture->lines().indexOf(text) : -1;
    }
    Q_INVOKABLE void clear();

signals:
    void controlChanged();

private:
    ControlJournal() = default;

    QPointer<QObject> current;
    QList<QPair<QString, QVariant>> calls;
    std::unique_ptr<LogCapture> capture;
};
