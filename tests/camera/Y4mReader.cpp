#include "Y4mReader.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QThread>

#include <chrono>
#include <cstring>
#include <pthread.h>

#include "camera/sim/SimulatedCamera.h"

namespace {
constexpr size_t keptFrames = 90;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

QImage Y4mReader::Frame::toRgb() const
{
    QImage image(width, height, QImage::Format_RGB32);
    av::SwsContextPtr sws(sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, AV_PIX_FMT_BGRA,
                                         SWS_BILINEAR, nullptr, nullptr, nullptr));
    const uint8_t *source[3] = {reinterpret_cast<const uint8_t *>(y.constData()),
                                reinterpret_cast<const uint8_t *>(u.constData()),
                                reinterpret_cast<const uint8_t *>(v.constData())};
    const int sourceStride[3] = {width, width / 2, width / 2};
    uint8_t *target[1] = {image.bits()};
    const int targetStride[1] = {int(image.bytesPerLine())};
    sws_scale(sws.get(), source, sourceStride, 0, height, target, targetStride);
    return image;
}

// Any FFmpeg call of the reader: stop, or an open that takes too long.
int Y4mReader::interrupted(void *opaque)
{
    auto *reader = static_cast<Y4mReader *>(opaque);
    if (reader->stopping.load())
        return 1;
    const qint64 deadline = reader->openDeadlineNs.load();
    return deadline > 0 && nowNs() > deadline ? 1 : 0;
}

Y4mReader::~Y4mReader()
{
    close();
}

bool Y4mReader::open(const QString &url, int timeoutMs)
{
    close();
    stopping.store(false);
    streamEnded.store(false);
    formatContext.reset(avformat_alloc_context());
    formatContext->interrupt_callback.callback = &Y4mReader::interrupted;
    formatContext->interrupt_callback.opaque = this;
    openDeadlineNs.store(nowNs() + qint64(timeoutMs) * 1000000);

    const AVInputFormat *format = av_find_input_format("yuv4mpegpipe");
    const QByteArray encodedUrl = url.toUtf8();
    if (avformat_open_input(av::out(formatContext), encodedUrl.constData(), format, nullptr) < 0)
        return false;
    if (avformat_find_stream_info(formatContext.get(), nullptr) < 0)
        return false;
    streamIndex = av_find_best_stream(formatContext.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (streamIndex < 0)
        return false;
    const AVCodecParameters *parameters = formatContext->streams[streamIndex]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    codecContext.reset(avcodec_alloc_context3(codec));
    if (!codec || avcodec_parameters_to_context(codecContext.get(), parameters) < 0 ||
        avcodec_open2(codecContext.get(), codec, nullptr) < 0)
        return false;
    streamWidth = parameters->width;
    streamHeight = parameters->height;
    streamPixelFormat = QString::fromLatin1(av_get_pix_fmt_name(AVPixelFormat(parameters->format)));
    openDeadlineNs.store(0);
    thread = std::thread([this] { readLoop(); });
    return true;
}

void Y4mReader::close()
{
    stopping.store(true);
    if (thread.joinable())
        thread.join();
    codecContext.reset();
    formatContext.reset();
    QMutexLocker locker(&mutex);
    recent.clear();
    received = 0;
}

qint64 Y4mReader::frameCount() const
{
    QMutexLocker locker(&mutex);
    return received;
}

bool Y4mReader::waitForEnd(int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker locker(&mutex);
    while (!streamEnded.load()) {
        if (!arrived.wait(&mutex, deadline))
            return streamEnded.load();
    }
    return true;
}

bool Y4mReader::nextFrames(int count, QVector<Frame> *frames, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker locker(&mutex);
    const qint64 first = received;
    frames->clear();
    while (frames->size() < count) {
        for (const Frame &frame : recent) {
            if (frame.index == first + frames->size())
                frames->append(frame);
        }
        if (frames->size() >= count)
            break;
        if (streamEnded.load() || !arrived.wait(&mutex, deadline))
            return false;
    }
    frames->resize(count);
    return true;
}

bool Y4mReader::frameAfter(qint64 number, Frame *frame, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker locker(&mutex);
    qint64 next = received;
    for (;;) {
        for (const Frame &candidate : recent) {
            if (candidate.index >= next) {
                next = candidate.index + 1;
                if (candidate.number > number) {
                    *frame = candidate;
                    return true;
                }
            }
        }
        if (streamEnded.load() || !arrived.wait(&mutex, deadline))
            return false;
    }
}

// Reader thread.
void Y4mReader::readLoop()
{
    pthread_setname_np(pthread_self(), "Y4mReader");
    QThread::currentThread()->setObjectName(QStringLiteral("Y4mReader"));
    av::PacketPtr packet(av_packet_alloc());
    av::FramePtr decoded(av_frame_alloc());
    while (!stopping.load()) {
        if (av_read_frame(formatContext.get(), packet.get()) < 0)
            break;
        if (packet->stream_index != streamIndex) {
            av_packet_unref(packet.get());
            continue;
        }
        const int sent = avcodec_send_packet(codecContext.get(), packet.get());
        av_packet_unref(packet.get());
        if (sent < 0)
            break;
        while (avcodec_receive_frame(codecContext.get(), decoded.get()) == 0) {
            Frame frame;
            frame.arrivedNs = nowNs();
            frame.width = decoded->width;
            frame.height = decoded->height;
            frame.y.resize(frame.width * frame.height);
            frame.u.resize(frame.width * frame.height / 4);
            frame.v.resize(frame.width * frame.height / 4);
            const int chromaWidth = frame.width / 2;
            for (int row = 0; row < frame.height; ++row)
                std::memcpy(frame.y.data() + row * frame.width, decoded->data[0] + row * decoded->linesize[0],
                            size_t(frame.width));
            for (int row = 0; row < frame.height / 2; ++row) {
                std::memcpy(frame.u.data() + row * chromaWidth, decoded->data[1] + row * decoded->linesize[1],
                            size_t(chromaWidth));
                std::memcpy(frame.v.data() + row * chromaWidth, decoded->data[2] + row * decoded->linesize[2],
                            size_t(chromaWidth));
            }
            av_frame_unref(decoded.get());
            frame.number = SimulatedCamera::decodeFrameNumber(frame.toRgb());
            QMutexLocker locker(&mutex);
            frame.index = received++;
            recent.push_back(std::move(frame));
            if (recent.size() > keptFrames)
                recent.pop_front();
            arrived.wakeAll();
        }
    }
    QMutexLocker locker(&mutex);
    streamEnded.store(true);
    arrived.wakeAll();
}
