#pragma once

#include <QAbstractVideoSurface>
#include <QImage>

#include <functional>

// The surface a camera benchmark gives the frame provider. For every presented frame it reports when it
// was presented (the steady clock, ns) and when the virtual camera captured it (the stamp painted into
// its top rows with TARN_VCAM_STAMP=1; -1 when the frame carries none). Main thread.
class StampSurface : public QAbstractVideoSurface
{
public:
    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType) const override;
    bool present(const QVideoFrame &frame) override;

    // The capture time in a picture: 64 blocks of 4 pixels along the top, white for 1, most significant
    // bit first; -1 for a picture too small to carry it.
    static qint64 stampOf(const QImage &image);

    std::function<void(qint64 presentedNs, qint64 capturedNs)> onPresent;
};
