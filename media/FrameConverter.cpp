#include "media/FrameConverter.h"

#include "media/PixelLimit.h"

extern "C" {
#include <libavutil/display.h>
}

#include <QRegularExpression>
#include <QTransform>

#include <cmath>

namespace {
// Turns src by a multiple of 90 degrees clockwise into dst (already of the turned size).
void rotateRightAngle(const QImage &src, QImage &dst, int degrees)
{
    const int w = src.width();
    const int h = src.height();
    for (int y = 0; y < h; ++y) {
        const auto *in = reinterpret_cast<const quint32 *>(src.constScanLine(y));
        if (degrees == 180) {
            auto *out = reinterpret_cast<quint32 *>(dst.scanLine(h - 1 - y));
            for (int x = 0; x < w; ++x)
                out[w - 1 - x] = in[x];
        } else if (degrees == 90) {
            const int column = h - 1 - y;
            for (int x = 0; x < w; ++x)
                reinterpret_cast<quint32 *>(dst.scanLine(x))[column] = in[x];
        } else { // 270
            for (int x = 0; x < w; ++x)
                reinterpret_cast<quint32 *>(dst.scanLine(w - 1 - x))[y] = in[x];
        }
    }
}

bool rightAngle(int degrees)
{
    return degrees == 90 || degrees == 180 || degrees == 270;
}
} // namespace

bool FrameConverter::configure(int w, int h, int rotation, int swsFlags)
{
    clear();
    if (w <= 0 || h <= 0 || !media::withinPixelLimit(w, h))
        return false;
    width = w;
    height = h;
    rotate = rotation;
    flags = swsFlags;
    const bool turned = rotate == 90 || rotate == 270;
    output = turned ? QSize(height, width) : QSize(width, height);
    // Any other angle gives the turned picture's bounding box, as QImage::transformed() makes it.
    if (rotate != 0 && !rightAngle(rotate))
        output = QImage::trueMatrix(QTransform().rotate(rotate), width, height)
                     .mapRect(QRect(0, 0, width, height))
                     .size();
    if (!pool.reset(output.width(), output.height()))
        return false;
    if (rotate != 0) {
        rotateSource = ImagePool::allocate(width, height);
        if (rotateSource.isNull())
            return false;
    }
    return true;
}

void FrameConverter::clear()
{
    swsCtx.reset();
    unpackCtx.reset();
    planar.reset();
    pool.clear();
    rotateSource = QImage();
    freeRotation = QImage();
    width = height = rotate = 0;
    output = QSize();
}

FrameConverter::Result FrameConverter::convert(const AVFrame *frame, const QImage *&image)
{
    image = nullptr;
    if (width <= 0)
        return Result::Failed;
    // The source follows each frame's own size and format, so a stream that changes either mid-way still
    // converts; the destination is always the configured size.
    const AVFrame *source = frame;
    if (frame->format == AV_PIX_FMT_YUYV422) {
        if (!planar || planar->width != frame->width || planar->height != frame->height) {
            planar.reset(av_frame_alloc());
            if (!planar)
                return Result::Failed;
            planar->format = AV_PIX_FMT_YUV422P;
            planar->width = frame->width;
            planar->height = frame->height;
            if (av_frame_get_buffer(planar.get(), 0) < 0) {
                planar.reset();
                return Result::Failed;
            }
        }
        unpackCtx.reset(sws_getCachedContext(unpackCtx.release(), frame->width, frame->height,
                                             AV_PIX_FMT_YUYV422, frame->width, frame->height,
                                             AV_PIX_FMT_YUV422P, SWS_POINT, nullptr, nullptr, nullptr));
        if (!unpackCtx || sws_scale(unpackCtx.get(), frame->data, frame->linesize, 0, frame->height,
                                    planar->data, planar->linesize) < 0)
            return Result::Failed;
        source = planar.get();
    }
    swsCtx.reset(sws_getCachedContext(swsCtx.release(), source->width, source->height,
                                      AVPixelFormat(source->format), width, height, AV_PIX_FMT_BGRA, flags,
                                      nullptr, nullptr, nullptr));
    if (!swsCtx)
        return Result::Failed;

    QImage *target = rotate != 0 ? &rotateSource : pool.acquire();
    if (!target)
        return Result::Busy;
    QImage *turned = nullptr;
    if (rightAngle(rotate) && !(turned = pool.acquire()))
        return Result::Busy;

    dstData[0] = target->bits();
    dstLinesize[0] = int(target->bytesPerLine());
    if (sws_scale(swsCtx.get(), source->data, source->linesize, 0, source->height, dstData, dstLinesize) < 0)
        return Result::Failed;

    if (rotate == 0) {
        image = target;
    } else if (turned) {
        rotateRightAngle(rotateSource, *turned, rotate);
        image = turned;
    } else {
        freeRotation = rotateSource.transformed(QTransform().rotate(rotate), Qt::SmoothTransformation);
        if (freeRotation.isNull())
            return Result::Failed;
        image = &freeRotation;
    }
    return Result::Converted;
}

bool FrameConverter::guardsIntact() const
{
    return pool.guardsIntact() && (rotateSource.isNull() || ImagePool::guardIntact(rotateSource));
}

int FrameConverter::streamRotation(const AVStream *stream)
{
    double clockwise = 0;
    size_t size = 0;
    const uint8_t *matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix && size >= 9 * sizeof(int32_t)) {
        const double angle = av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
        if (!std::isnan(angle))
            clockwise = std::fmod(360.0 - angle, 360.0);
    } else if (const AVDictionaryEntry *tag = av_dict_get(stream->metadata, "rotate", nullptr, 0)) {
        // Leading digits, like atoi; a negative value never turns the picture.
        clockwise = QString::fromUtf8(tag->value)
                        .section(QRegularExpression(QStringLiteral("[^0-9-]")), 0, 0)
                        .toInt();
        if (clockwise < 0)
            clockwise = 0;
    }
    int degrees = int(std::lround(clockwise)) % 360;
    if (degrees < 0)
        degrees += 360;
    return degrees;
}
