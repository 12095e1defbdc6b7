#pragma once

#include "media/AvPointers.h"
#include "media/ImagePool.h"

#include <QImage>
#include <QSize>

// Turns decoded frames into the RGB32 images the player hands out: scaled into an image of the bounded
// pool, then turned by the stream's rotation. The output size is fixed when the converter is
// configured; every conversion writes exactly into an image of that size, whatever size the frames or
// the player's settings take later.
//
// Thread: the one that decodes.
class FrameConverter
{
public:
    enum class Result
    {
        Converted,
        Busy,   // receivers hold every image of the pool: the frame is dropped
        Failed, // the scaler or an allocation failed
    };

    explicit FrameConverter(int poolCapacity = 4) : pool(poolCapacity) {}

    // width x height is the picture the decoder delivers; the images are that size turned clockwise by
    // rotation degrees (90 and 270 swap the sides). swsFlags is the scaler's interpolation. False, with
    // nothing allocated, for a picture above the pixel limit (PixelLimit.h).
    bool configure(int width, int height, int rotation, int swsFlags);
    void clear();

    // Clockwise rotation in whole degrees [0, 360) that a video stream asks for: its display matrix,
    // else its "rotate" tag (leading digits; a negative value never turns the picture). Any thread.
    static int streamRotation(const AVStream *stream);

    // Converts frame; on Converted, image points at the result until the next call.
    Result convert(const AVFrame *frame, const QImage *&image);

    // Size of the images handed out.
    QSize outputSize() const { return output; }
    int poolCapacity() const { return pool.maxSize(); }
    // Nothing has written past the end of an image buffer (see ImagePool).
    bool guardsIntact() const;

private:
    ImagePool pool;
    av::SwsContextPtr swsCtx;
    // Packed 4:2:2 (YUYV, what most UVC cameras send) goes to RGB in two steps, first unpacked into
    // planar 4:2:2 here: swscale's direct packed-to-RGB path costs 2 to 3.5 times as much.
    av::SwsContextPtr unpackCtx;
    av::FramePtr planar;
    // Plane pointers and line sizes of the scaler's destination.
    uint8_t *dstData[4] = {};
    int dstLinesize[4] = {};
    int width = 0;
    int height = 0;
    int rotate = 0;
    int flags = 0;
    QSize output;
    // A turned picture is scaled here first (unturned size).
    QImage rotateSource;
    QImage freeRotation;
};
