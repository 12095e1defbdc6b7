#pragma once

#include "app/ViewerSettings.h"
#include "LogCapture.h"
#include "presentation/FameProvider.h"

#include <QObject>
#include <QPointer>
#include <QTemporaryDir>
#include <QVariantList>

#include <memory>

class QQmlEngine;

// Prepares each test document's engine as the application prepares its own: the controller type
// "MainControl" 1.0 (here the double), a real frame provider as "frameProvider" and real settings as
// "viewerSettings" (kept in a folder of the run's own). Published to the
// documents as "harness": what the window did to its controller (every call the double received, in
// order, the values of its zoom calls, and every log line around them), and a way to put a picture on
// the window's video surface. Main thread only.
class QmlTestSetup : public QObject
{
    Q_OBJECT
    // The controller double of the current window, null once the window is gone.
    Q_PROPERTY(QObject *control READ control)

public:
    QmlTestSetup() { harness = this; }

    // Called by the controller double: the last one created is the current control.
    static void attach(QObject *controlDouble) { harness->current = controlDouble; }
    static void record(const QString &slot, const QVariant &zoom = QVariant());

    QObject *control() const { return current; }
    // Names of the calls since the last clear(), in order, and the values of the zoom calls among them.
    Q_INVOKABLE QStringList callNames() const { return names; }
    Q_INVOKABLE QVariantList zoomValues() const { return zooms; }
    // Log lines since the last clear(); a call is logged as "MainControl double: <slot>".
    Q_INVOKABLE QStringList lines() const { return capture ? capture->lines() : QStringList(); }
    Q_INVOKABLE void clear();
    // Announces width x height to the frame provider and presents one RGB32 frame, the way the camera
    // session does: a picture of four quarters in the given colours (top left, top right, bottom left,
    // bottom right).
    Q_INVOKABLE void showPicture(int width, int height, const QVariantList &quarterColors);

public slots:
    void applicationAvailable();
    void qmlEngineAvailable(QQmlEngine *engine);

private:
    static inline QmlTestSetup *harness = nullptr;
    FameProvider provider;
    // The window's remembered settings, kept in a configuration folder of the run's own.
    QTemporaryDir configHome;
    std::unique_ptr<ViewerSettings> settings;
    QPointer<QObject> current;
    QStringList names;
    QVariantList zooms;
    std::unique_ptr<LogCapture> capture;
};
