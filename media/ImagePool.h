#pragma once

#include <QImage>
#include <QVector>

// A fixed number of RGB32 images that the converter writes into and the player hands out. An image is
// reused only when no receiver holds a copy of it any more (QImage shares its pixels between copies), so
// an emitted image stays valid for queued receivers for as long as they keep it. The pool grows to its
// capacity and no further: when receivers still hold every image, acquire() answers null and the frame
// is not converted. So a receiver that stalls holds at most `capacity` stale pictures, not one per frame.
//
// Each image lies over a buffer the pool allocates for the scaler: its rows start on 64-byte boundaries
// and room follows the last row, because swscale's SIMD code writes whole vectors and so runs up to 16
// bytes past the end of a row whose width is not a multiple of 16 pixels. The image itself is exactly
// the size asked for. A guard pattern after that room lets a test see any write that still overruns.
//
// Player thread only.
class ImagePool
{
public:
    // Row starts are aligned to this many bytes.
    static constexpr int kRowAlignment = 64;
    // Room after the last row for the scaler's whole-vector writes.
    static constexpr int kTailBytes = 64;
    // A known pattern after that room, checked by guardsIntact().
    static constexpr int kGuardBytes = 32;

    explicit ImagePool(int capacity = 4) : capacity(capacity) {}

    // Drops the images and allocates the first one of the new size. False when it cannot be allocated.
    bool reset(int width, int height);
    void clear();
    // An image of the pool's size that nobody else shares; null when every image is held or memory runs
    // out.
    QImage *acquire();

    int size() const { return images.size(); }
    int maxSize() const { return capacity; }
    // False once anything has written past an image's buffer (its guard pattern changed).
    bool guardsIntact() const;

    // An RGB32 image of width x height over a padded buffer as described above; null when it cannot be
    // allocated. The buffer is freed with the last copy of the image.
    static QImage allocate(int width, int height);
    // The guard pattern after image's buffer is whole; image must come from allocate().
    static bool guardIntact(const QImage &image);

private:
    int capacity;
    int width = 0;
    int height = 0;
    QVector<QImage> images;
};
