#pragma once

#include "camera/CameraOpenReport.h"
#include "camera/CameraProfile.h"

#include <QMutex>
#include <QObject>
#include <QString>

#include <deque>

// The one place the camera library is called from: a thread of its own ("tarn-camera"), owned by the
// session controller, that opens, closes, sends the commands and refreshes in the order they were
// asked for. The library may wait for the camera for seconds (uvcvideo gives a control request 5 s);
// only this thread waits. Results come back as signals, queued to the controller's thread.
//
// Commands keep their order. A zoom is a value only the newest of which matters: a zoom still waiting
// in the queue is replaced by a newer one, never sent stale.
class CameraWorker : public QObject
{
    Q_OBJECT

public:
    // The library's two command channels.
    enum Channel
    {
        Contrast,   // the four command buttons
        Saturation, // the zoom, in tenths
    };
    Q_ENUM(Channel)

    CameraWorker();

    // Before the thread starts: the camera each open looks for. A device path wins over a serial
    // number, a serial number over the name.
    void setChoice(const QString &name, const QString &devicePath, const QString &serial);
    // Before the thread starts: the --layout choice each open applies to the camera's profile.
    void setLayoutOverride(CameraProfile::LayoutOverride override) { layoutOverride = override; }

    // Any thread: queues a command, or replaces the waiting zoom; returns at once.
    void postCommand(Channel channel, int value);
    // Any thread: queues an open, a close or a refresh; returns at once.
    void postOpen();
    void postClose();
    void postRefresh();
    // Any thread: forgets the commands not yet sent (the session is ending).
    void dropCommands();

signals:
    void opened(const CameraOpenReport &report);
    void closed();
    // error: 0 when the camera took the value, else the errno of the refusal.
    void commandDone(int channel, int value, int error);
    void refreshed(bool ok, double zoom, const QString &sn);

private slots:
    // Worker thread.
    void open();
    void close();
    void refresh();
    void sendCommands();

private:
    QString choiceName;
    QString choiceDevice;
    QString choiceSerial;
    QStringList lastFound; // the cameras the last open saw, "card (node)"
    CameraProfile::LayoutOverride layoutOverride = CameraProfile::LayoutOverride::Auto;

    struct Command
    {
        Channel channel;
        int value;
    };
    QMutex queueMutex; // guards queue and sendPosted; never held across a camera call
    std::deque<Command> queue;
    bool sendPosted = false;
};
