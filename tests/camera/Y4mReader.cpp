#include "Y4mReader.h"

#include "camera/sim/SimulatedCamera.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <QDeadlineTimer>
#include <QThread>

#include <chrono>

namespace {
qint64 nowNs()
{
    return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
}
} // namespace

QImage Y4mReader::Frame::toRgb() const
{
    QImage image(width, height, QImage::Format_RGB32);
    av::SwsContextPtr sws(sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, AV_PIX_FMT_BGRA,
                                         SWS_BILINEAR, nullptr, nullptr, nullptr));
    uint8_t *source[4];
    int sourceStride[4];
    av_image_fill_arrays(source, sourceStride, plane(0), AV_PIX_FMT_YUV420P, width, height, 1);
    uint8_t *target[1] = {image.bits()};
    const int targetStride[1] = {int(image.bytesPerLine())};
    sws_scale(sws.get(), source, sourceStride, 0, height, target, targetStride);
    return image;
}

Y4mReader::~Y4mReader()
{
    stopping.store(true);
    if (thread.joinable())
        thread.join();
}

bool Y4mReader::open(const QString &url, int timeoutMs)
{
    formatContext.reset(avformat_alloc_context());
    // Any FFmpeg call of the reader gives up on close, or when the open takes too long.
    formatContext->interrupt_callback.callback = [](void *opaque) {
        auto *reader = static_cast<Y4mReader *>(opaque);
        const qint64 deadline = reader->openDeadlineNs.load();
        return int(reader->stopping.load() || (deadline > 0 && nowNs() > deadline));
    };
    formatContext->interrupt_callback.opaque = this;
    openDeadlineNs.store(nowNs() + qint64(timeoutMs) * 1000000);
    if (avformat_open_input(av::out(formatContext), url.toUtf8().constData(),
                            av_find_input_format("yuv4mpegpipe"), nullptr) < 0)
        return false; // (the context is written back only at the end of this statement)
    if (avformat_find_stream_info(formatContext.get(), nullptr) < 0 || formatContext->nb_streams < 1)
        return false;
    const AVCodecParameters *parameters = formatContext->streams[0]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    codecContext.reset(avcodec_alloc_context3(codec));
    if (!codec || avcodec_parameters_to_context(codecContext.get(), parameters) < 0 ||
        avcodec_open2(codecContext.get(), codec, nullptr) < 0)
        return false;
    width = parameters->width;
    height = parameters->height;
    pixelFormat = QString::fromLatin1(av_get_pix_fmt_name(AVPixelFormat(parameters->format)));
    openDeadlineNs.store(0);
    thread = std::thread([this] { readLoop(); });
    return true;
}

qint64 Y4mReader::frameCount() const
{
    QMutexLocker locker(&mutex);
    return received;
}

bool Y4mReader::nextFrames(int count, QVector<Frame> *frames, int minNumber, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker locker(&mutex);
    frames->clear();
    for (qint64 next = received;;) {
        for (const Frame &frame : recent) {
            if (frame.index >= next && frames->size() < count) {
                next = frame.index + 1;
                if (frame.number >= minNumber)
                    frames->append(frame);
            }
        }
        if (frames->size() == count)
            return true;
        if (streamEnded.load() || !arrived.wait(&mutex, deadline))
            return false;
    }
}

// Reader thread.
void Y4mReader::readLoop()
{
    QThread::currentThread()->setObjectName(QStringLiteral("Y4mReader"));
    av::PacketPtr packet(av_packet_alloc());
    av::FramePtr decoded(av_frame_alloc());
    while (!stopping.load() && av_read_frame(formatContext.get(), packet.get()) >= 0) {
        const int sent = avcodec_send_packet(codecContext.get(), packet.get());
        av_packet_unref(packet.get());
        if (sent < 0)
            break;
        while (avcodec_receive_frame(codecContext.get(), decoded.get()) == 0) {
            Frame frame;
            frame.arrivedNs = nowNs();
            frame.width = decoded->width;
            frame.height = decoded->height;
            frame.yuv.resize(frame.width * frame.height * 3 / 2);
            av_image_copy_to_buffer(reinterpret_cast<uint8_t *>(frame.yuv.data()), frame.yuv.size(),
                                    decoded->data, decoded->linesize, AV_PIX_FMT_YUV420P, frame.width,
                                    frame.height, 1);
            av_frame_unref(decoded.get());
            frame.number = SimulatedCamera::decodeFrameNumber(frame.toRgb());
            QMutexLocker locker(&mutex);
            frame.index = received++;
            recent.push_back(std::move(frame));
            if (recent.size() > 90)
                recent.pop_front();
            arrived.wakeAll();
        }
    }
    QMutexLocker locker(&mutex);
    streamEnded.store(true);
    arrived.wakeAll();
}
