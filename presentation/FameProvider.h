#pragma once

#include <QAbstractVideoSurface>
#include <QObject>
#include <QVideoFrame>
#include <QVideoSurfaceFormat>

// The bridge between the picture pipeline and QML's VideoOutput: the VideoOutput writes its rendering
// surface into the videoSurface property, and from then on the provider starts, restarts and feeds it.
// Main thread only; other threads reach the slots through the two signals.
class FameProvider : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QAbstractVideoSurface *videoSurface READ videoSurface WRITE setVideoSurface)

public:
    explicit FameProvider(QObject *parent = nullptr);

    QAbstractVideoSurface *videoSurface() const;
    void setVideoSurface(QAbstractVideoSurface *surface);

signals:
    void newFormat(int, int);
    void newFrameAvailable(const QVideoFrame &frame);

public slots:
    void setFormat(int width, int heigth);
    void onNewVideoContentReceived(const QVideoFrame &frame);

private:
    QAbstractVideoSurface *surface = nullptr;
    QVideoSurfaceFormat format;
};
