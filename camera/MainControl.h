#pragma once

#include <QFuture>
#include <QImage>
#include <QObject>
#include <QVideoFrame>

#include <functional>

class QTimer;
class SyncTaskOne;

// The camera session controller, declared by the main window. It finds the camera by its description,
// opens it through the vendor library on a pool thread, runs the player on the camera's capture device,
// feeds every image to the frame provider, reconnects when images stop, and carries the camera commands
// and the property refresh. Every slot runs on the main thread.
class MainControl : public QObject
{
    Q_OBJECT

public:
    explicit MainControl(QObject *parent = nullptr);
    ~MainControl() override;

private:
    // Commands travel through the library under syncMutex, which is only tried; when the property refresh
    // holds it, repeat (the whole slot again) runs after 500 ms. Every command that goes through
    // postpones the next refresh by 2000 ms.
    void sendCommand(int (*send)(int), int value, const std::function<void()> &repeat);

    QTimer *searchTimer;
    QTimer *checkFrameTimer;
    QTimer *syncTimer;
    int noFrameCount;
    SyncTaskOne *syncTask;
    // The open worker on the pool; kept so that the destructor can wait for it.
    QFuture<void> openFuture;

signals:
    void newFormat(int, int);
    void newFrameAvailable(const QVideoFrame &frame);
    void sigUpdateZoomValue(double value);
    void sigUpdateSN(const QString &value);

protected slots:
    void slotSearchDevice();
    void slotStartUVCConnect();
    void slotEndUVCConnect();
    void slotRecord();
    void slotPalette();
    void slotTrack();
    void slotFFC();
    void slotZoom(double value);
    void startCapture();
    void stopCapture();
    void playStart();
    void playFinsh();
    void PlayError();
    void snapImage(const QImage &image);
    void updateImage(const QImage &image);
    void slotCheckFrame();
    void slotSyncDevice();
};
