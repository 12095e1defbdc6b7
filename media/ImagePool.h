#pragma once

#include <QImage>
#include <QVector>

// A fixed number of RGB32 images that the converter writes into and the player hands out. An image is
// reused only when no receiver holds a copy of it any more (QImage shares its pixels between copies), so
// an emitted image stays valid for queued receivers for as long as they keep it. The pool grows to its
// capacity and no further: when receivers still hold every image, acquire() answers null and the frame
// is not converted. So a receiver that stalls holds at most `capacity` stale pictures, not one per frame.
//
// Player thread only.
class ImagePool
{
public:
    explicit ImagePool(int capacity = 4) : capacity(capacity) {}

    // Drops the images and allocates the first one of the new size. False when it cannot be allocated.
    bool reset(int width, int height);
    void clear();
    // An image of the pool's size that nobody else shares; null when every image is held or memory runs
    // out.
    QImage *acquire();

    int size() const { return images.size(); }
    int maxSize() const { return capacity; }

private:
    int capacity;
    int width = 0;
    int height = 0;
    QVector<QImage> images;
};
