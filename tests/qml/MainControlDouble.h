#pragma once

#include "ControlJournal.h"

#include <QObject>
#include <QString>

// Stands in for the camera session controller where the window declares it: the same slots and
// signals, but the slots only tell the journal that they were called. The tests emit the two
// signals themselves, as the controller does when it reads the camera's zoom and serial number.
class MainControlDouble : public QObject
{
    Q_OBJECT

public:
    explicit MainControlDouble(QObject *parent = nullptr) : QObject(parent) { journal()->attach(this); }
    ~MainControlDouble() override { journal()->detach(this); }

signals:
    void sigUpdateZoomValue(double value);
    void sigUpdateSN(QString value);

public slots:
    void slotStartUVCConnect() { journal()->record("slotStartUVCConnect"); }
    void slotEndUVCConnect() { journal()->record("slotEndUVCConnect"); }
    void slotRecord() { journal()->record("slotRecord"); }
    void slotPalette() { journal()->record("slotPalette"); }
    void slotTrack() { journal()->record("slotTrack"); }
    void slotFFC() { journal()->record("slotFFC"); }
    void slotZoom(double value) { journal()->record("slotZoom", value); }

private:
    static ControlJournal *journal() { return ControlJournal::instance(); }
};
