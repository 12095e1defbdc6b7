#include "presentation/FameProvider.h"

#include "presentation/PresentationLog.h"
#include <QDebug>

FameProvider::FameProvider(QObject *parent) : QObject(parent)
{
    // QML writes the surface through the property system, and frames cross threads in queued signals.
    qRegisterMetaType<QAbstractVideoSurface *>("QAbstractVideoSurface*");
    qRegisterMetaType<QVideoFrame>("QVideoFrame");

    // The signals are the way into the slots from any thread: they run here, on the provider's thread.
    connect(this, SIGNAL(newFormat(int, int)), this, SLOT(setFormat(int, int)), Qt::UniqueConnection);
    connect(this, SIGNAL(newFrameAvailable(QVideoFrame)), this, SLOT(onNewVideoContentReceived(QVideoFrame)),
            Qt::UniqueConnection);
}

QAbstractVideoSurface *FameProvider::videoSurface() const
{
    return surface;
}

void FameProvider::setVideoSurface(QAbstractVideoSurface *s)
{
    qCDebug(lcPresentation) << "setVideoSurface " << s;
    if (surface && surface != s && surface->isActive())
        surface->stop();

    surface = s;

    if (surface && format.isValid()) {
        format = surface->nearestFormat(format);
        surface->start(format);
    }
}

void FameProvider::setFormat(int width, int heigth)
{
    qCDebug(lcPresentation) << "setFormat " << surface << width << heigth;
    format =
        QVideoSurfaceFormat(QSize(width, heigth), QVideoFrame::Format_RGB32, QAbstractVideoBuffer::NoHandle);
    if (size != QSize(width, heigth)) {
        size = QSize(width, heigth);
        emit frameSizeChanged();
    }
    if (surface) {
        if (surface->isActive())
            surface->stop();
        format = surface->nearestFormat(format);
        surface->start(format);
    }
}

void FameProvider::onNewVideoContentReceived(const QVideoFrame &frame)
{
    if (surface)
        surface->present(frame);
}

void FameProvider::presentImage(const QImage &image)
{
    if (surface)
        surface->present(QVideoFrame(image));
    // Kept in any case for a snapshot: one of the player's pooled images stays held until the next.
    latest = image;
    if (imageConsumers > 0)
        emit imagePresented();
}

void FameProvider::setImageConsumer(bool present)
{
    imageConsumers += present ? 1 : -1;
    if (imageConsumers < 0)
        imageConsumers = 0;
}
