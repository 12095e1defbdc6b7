#pragma once

#include <QObject>
#include <QString>

// Stands in for the camera session controller where the window declares it: the same slots and
// signals, but the slots only tell the journal that they were called. The tests emit the two
// signals themselves, as the controller does when it reads the camera's zoom and serial number.
class MainControlDouble : public QObject
{
    Q_OBJECT

public:
    explicit MainControlDouble(QObject *parent = nullptr);
    ~MainControlDouble() override;

signals:
    void sigUpdateZoomValue(double value);
    void sigUpdateSN(QString value);

public slots:
    void slotStartUVCConnect();
    void slotEndUVCConnect();
    void slotRecord();
    void slotPalette();
    void slotTrack();
    void slotFFC();
    void slotZoom(double value);
};
