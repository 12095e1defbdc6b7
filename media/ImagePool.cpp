#include "media/ImagePool.h"

#include <atomic>

bool ImagePool::reset(int w, int h)
{
    clear();
    width = w;
    height = h;
    images.reserve(capacity);
    QImage first(width, height, QImage::Format_RGB32);
    if (first.isNull())
        return false;
    images.append(first);
    return true;
}

void ImagePool::clear()
{
    images.clear();
    oldest = 0;
}

QImage *ImagePool::acquire()
{
    for (QImage &image : images) {
        if (image.isDetached()) {
            // The receiver's last reads of these pixels happen before its release of the last copy.
            std::atomic_thread_fence(std::memory_order_acquire);
            return &image;
        }
    }
    QImage fresh(width, height, QImage::Format_RGB32);
    if (fresh.isNull())
        return nullptr;
    if (images.size() < capacity) {
        images.append(fresh);
        return &images.last();
    }
    QImage &slot = images[oldest];
    oldest = (oldest + 1) % images.size();
    slot = fresh;
    return &slot;
}
