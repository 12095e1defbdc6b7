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
    if (images.size() >= capacity)
        return nullptr;
    QImage fresh(width, height, QImage::Format_RGB32);
    if (fresh.isNull())
        return nullptr;
    images.append(fresh);
    return &images.last();
}
