#pragma once

#include <QAbstractVideoSurface>
#include <QImage>
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
    // How the window shows the picture: "opengl" (VideoOutput, the default) or "software" (the software
    // renderer's item). Set once before the window is made.
    Q_PROPERTY(QString renderRoad READ renderRoad CONSTANT)
    // The size of the pictures announced by setFormat: the window keeps their shape from it.
    Q_PROPERTY(QSize frameSize READ frameSize NOTIFY frameSizeChanged)

public:
    explicit FameProvider(QObject *parent = nullptr);

    QAbstractVideoSurface *videoSurface() const;
    void setVideoSurface(QAbstractVideoSurface *surface);

    // An image for whichever presentation the window uses: the surface gets it as a video frame, as
    // through onNewVideoContentReceived, and an image consumer (the software renderer's item) finds it
    // in latestImage() when imagePresented comes. Nothing is copied.
    void presentImage(const QImage &image);
    // The software item announces itself: only then is the latest image kept.
    void setImageConsumer(bool present);
    // The last image presented (shared, not copied): what a snapshot keeps.
    QImage latestImage() const { return latest; }
    QSize frameSize() const { return size; }
    QString renderRoad() const { return road; }
    void setRenderRoad(const QString &value) { road = value; }

signals:
    void newFormat(int, int);
    void newFrameAvailable(const QVideoFrame &frame);
    // presentImage() has a new latestImage().
    void imagePresented();
    void frameSizeChanged();

public slots:
    void setFormat(int width, int heigth);
    void onNewVideoContentReceived(const QVideoFrame &frame);

private:
    QAbstractVideoSurface *surface = nullptr;
    QVideoSurfaceFormat format;
    QString road = QStringLiteral("opengl");
    int imageConsumers = 0;
    QImage latest;
    QSize size;
};
