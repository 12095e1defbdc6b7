#include "StampSurface.h"

#include "VirtualCameraBench.h"

QList<QVideoFrame::PixelFormat> StampSurface::supportedPixelFormats(QAbstractVideoBuffer::HandleType) const
{
    return {QVideoFrame::Format_RGB32};
}

bool StampSurface::present(const QVideoFrame &frame)
{
    const qint64 now = VirtualCameraBench::steadyNs();
    QVideoFrame copy(frame);
    if (!copy.map(QAbstractVideoBuffer::ReadOnly))
        return false;
    const QImage image(copy.bits(), copy.width(), copy.height(), copy.bytesPerLine(), QImage::Format_RGB32);
    const qint64 captured = stampOf(image);
    copy.unmap();
    if (onPresent)
        onPresent(now, captured > 0 && captured <= now && now - captured < 10000000000 ? captured : -1);
    return true;
}

qint64 StampSurface::stampOf(const QImage &image)
{
    if (image.width() < 256 || image.height() < 4)
        return -1;
    quint64 stamp = 0;
    for (int bit = 0; bit < 64; ++bit)
        stamp = (stamp << 1) | (qGray(image.pixel(bit * 4 + 2, 2)) > 128 ? 1 : 0);
    return qint64(stamp);
}
