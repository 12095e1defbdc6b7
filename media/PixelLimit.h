#pragma once
// The largest picture the player takes: far above any camera or video there is, far below what would
// exhaust memory (a decoder's frames, four pooled images and a rotation buffer of the largest size come
// to about 1.5 GiB). A stream that declares more fails to open before anything of its size is allocated.

#include <QString>
#include <QtGlobal>

namespace media {

constexpr int kMaxPictureSide = 16384;
constexpr qint64 kMaxPicturePixels = qint64(8192) * 8192;

inline bool withinPixelLimit(int width, int height)
{
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           qint64(width) * height <= kMaxPicturePixels;
}

// The one line that says why such a picture is refused.
inline QString pixelLimitText(int width, int height)
{
    return QStringLiteral("a picture of %1x%2 is above the limit of %3 pixels (8192x8192)")
        .arg(width)
        .arg(height)
        .arg(kMaxPicturePixels);
}

} // namespace media
