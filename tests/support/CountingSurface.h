#pragma once

#include <QAbstractVideoSurface>

// A video surface for the frame provider that counts the frames it is shown. Main thread.
class CountingSurface : public QAbstractVideoSurface
{
public:
    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType) const override
    {
        return {QVideoFrame::Format_RGB32};
    }
    bool present(const QVideoFrame &) override
    {
        ++presented;
        return true;
    }
    int presented = 0;
};
