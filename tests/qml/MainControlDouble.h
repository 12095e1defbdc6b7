#pragma once

#include "QmlTestSetup.h"

#include <QObject>
#include <QString>

// Stands in for the camera session controller where the window declares it: the same slots and
// signals, but the slots only tell the test harness that they were called. The tests emit the two
// signals themselves, as the controller does when it reads the camera's zoom and serial number.
class MainControlDouble : public QObject
{
    Q_OBJECT
    // What the real controller shows over the pane; the tests set them.
    Q_PROPERTY(QString statusText MEMBER statusText NOTIFY statusChanged)
    Q_PROPERTY(bool pictureMarked MEMBER pictureMarked NOTIFY statusChanged)
    Q_PROPERTY(bool clipRecording MEMBER clipRecording NOTIFY clipChanged)
    Q_PROPERTY(int clipSeconds MEMBER clipSeconds NOTIFY clipChanged)
    Q_PROPERTY(QString picturesFolder MEMBER picturesFolder CONSTANT)
    Q_PROPERTY(QString videosFolder MEMBER videosFolder CONSTANT)
    Q_PROPERTY(QObject *thermal MEMBER thermal CONSTANT)
    Q_PROPERTY(QString pictureLayout MEMBER pictureLayout CONSTANT)
    Q_PROPERTY(bool viewerTracking MEMBER viewerTracking CONSTANT)
    Q_PROPERTY(double viewerZoom MEMBER viewerZoom CONSTANT)
    Q_PROPERTY(bool flatFieldTaken MEMBER flatFieldTaken CONSTANT)

public:
    explicit MainControlDouble(QObject *parent = nullptr) : QObject(parent) { QmlTestSetup::attach(this); }

    QString statusText;
    bool pictureMarked = false;
    bool clipRecording = false;
    int clipSeconds = 0;
    QString picturesFolder = QStringLiteral("/pictures");
    QString videosFolder = QStringLiteral("/videos");
    // Our own camera: whole pictures, every command to the camera.
    QObject *thermal = nullptr;
    QString pictureLayout = QStringLiteral("whole");
    bool viewerTracking = false;
    double viewerZoom = 1;
    bool flatFieldTaken = true;

signals:
    void statusChanged();
    void clipChanged();
    void sigUpdateZoomValue(double value);
    void sigUpdateSN(QString value);

public slots:
    void slotStartUVCConnect() { QmlTestSetup::record("slotStartUVCConnect"); }
    void slotEndUVCConnect() { QmlTestSetup::record("slotEndUVCConnect"); }
    void slotRecord() { QmlTestSetup::record("slotRecord"); }
    void slotPalette() { QmlTestSetup::record("slotPalette"); }
    void slotTrack() { QmlTestSetup::record("slotTrack"); }
    void slotFFC() { QmlTestSetup::record("slotFFC"); }
    void slotZoom(double value) { QmlTestSetup::record("slotZoom", value); }
    void slotSnapshot() { QmlTestSetup::record("slotSnapshot"); }
    void slotClip() { QmlTestSetup::record("slotClip"); }
    void openFolder(const QString &folder) { QmlTestSetup::record("openFolder " + folder); }
};
