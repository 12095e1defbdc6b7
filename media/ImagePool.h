#pragma once

#include <QImage>
#include <QVector>

// A few RGB32 images that the converter writes into and the player hands out. An image is reused only
// when no receiver holds a copy of it any more (QImage shares its pixels between copies), so an emitted
// image stays valid for queued receivers for as long as they keep it. When every image is still held,
// the pool grows up to its capacity, then replaces its oldest image with a new one (the receivers keep
// the old pixels alive).
//
// Player thread only.
class ImagePool
{
public:
    explicit ImagePool(int capacity = 6) : capacity(capacity) {}

    // Drops the images and allocates the first one of the new size. False when it cannot be allocated.
    bool reset(int width, int height);
    void clear();
    // An image of the pool's size that nobody else shares; null when memory runs out.
    QImage *acquire();

    int size() const { return images.size(); }

private:
    int capacity;
    int width = 0;
    int height = 0;
    int oldest = 0;
    QVector<QImage> images;
};
