#include "media/ImagePool.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <atomic>
#include <cstring>
#include <limits>

namespace {
constexpr unsigned char kGuardByte = 0xA5;

qsizetype paddedStride(int width)
{
    const qsizetype row = qsizetype(width) * 4;
    return (row + ImagePool::kRowAlignment - 1) / ImagePool::kRowAlignment * ImagePool::kRowAlignment;
}

const uchar *guardOf(const QImage &image)
{
    return image.constBits() + image.bytesPerLine() * image.height() + ImagePool::kTailBytes;
}

void freeBuffer(void *buffer)
{
    av_free(buffer);
}
} // namespace

QImage ImagePool::allocate(int w, int h)
{
    if (w <= 0 || h <= 0)
        return {};
    const qsizetype stride = paddedStride(w);
    if (stride > (std::numeric_limits<qsizetype>::max() - kTailBytes - kGuardBytes) / h)
        return {};
    const qsizetype bytes = stride * h + kTailBytes + kGuardBytes;
    auto *buffer = static_cast<uchar *>(av_malloc(size_t(bytes)));
    if (!buffer)
        return {};
    std::memset(buffer + stride * h, 0, kTailBytes);
    std::memset(buffer + stride * h + kTailBytes, kGuardByte, kGuardBytes);
    QImage image(buffer, w, h, stride, QImage::Format_RGB32, freeBuffer, buffer);
    if (image.isNull())
        av_free(buffer);
    return image;
}

bool ImagePool::guardIntact(const QImage &image)
{
    const uchar *guard = guardOf(image);
    for (int i = 0; i < kGuardBytes; ++i) {
        if (guard[i] != kGuardByte)
            return false;
    }
    return true;
}

bool ImagePool::reset(int w, int h)
{
    clear();
    width = w;
    height = h;
    images.reserve(capacity);
    QImage first = allocate(width, height);
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
    QImage fresh = allocate(width, height);
    if (fresh.isNull())
        return nullptr;
    images.append(fresh);
    return &images.last();
}

bool ImagePool::guardsIntact() const
{
    for (const QImage &image : images) {
        if (!guardIntact(image))
            return false;
    }
    return true;
}
