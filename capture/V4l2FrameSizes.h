#pragma once

#include <QSize>
#include <QString>
#include <QVector>

// The discrete frame sizes a V4L2 capture node offers for one pixel format (VIDIOC_ENUM_FRAMESIZES).
// The camera profile reads them to tell a split thermal core from a webcam of the same name. A stepwise
// range lists nothing: no profile asks for a size from one. Reads only; any thread.
class V4l2FrameSizes
{
public:
    // Of an open descriptor.
    static QVector<QSize> of(int fd, quint32 pixelFormat);
    // Of a node, opened briefly beside whoever else has it open (listing sizes needs no streaming);
    // empty when it cannot be opened.
    static QVector<QSize> ofNode(const QString &devicePath, quint32 pixelFormat);
};
