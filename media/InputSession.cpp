#include "media/InputSession.h"

#include "media/LogTime.h"
#include "media/MediaLog.h"
#include "media/PixelLimit.h"

extern "C" {
#include <libavutil/time.h>
}

#include <QMutex>
#include <QMutexLocker>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <vector>

namespace {
// Held by every run of the interrupt callback, for all players.
QMutex interruptMutex;

// How long the callback waits for a device frame while the stream information is read.
constexpr int kProbeWaitMs = 10;
// How long a read waits for a device frame before it answers "try again".
constexpr int kReadWaitMs = 100;

// The local FIFO that url names; empty when it names something else.
QByteArray fifoPath(const QByteArray &url)
{
    QByteArray path = url;
    if (path.startsWith("file:"))
        path = path.mid(5);
    else if (path.contains("://") || path.startsWith("pipe:"))
        return {};
    struct stat info
    {
    };
    return ::stat(path.constData(), &info) == 0 && S_ISFIFO(info.st_mode) ? path : QByteArray();
}

// How long the wait for a FIFO's writer looks at the stop flag.
constexpr int kFifoPollMs = 20;

// The first picture stream whose declared size is above the pixel limit; null when none is.
const AVStream *oversizedPicture(const AVFormatContext *input)
{
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecParameters *par = input->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && (par->width > 0 || par->height > 0) &&
            !media::withinPixelLimit(qMax(par->width, 1), qMax(par->height, 1)))
            return input->streams[i];
    }
    return nullptr;
}
} // namespace

InputSession::InputSession(const std::atomic<bool> &stopped) : stopped(stopped), device(stopped) {}

InputSession::~InputSession()
{
    close();
}

bool InputSession::open(const Request &req, av::DictionaryPtr &options)
{
    close();
    request = req;
    failureText.clear();
    formatCtx.reset(avformat_alloc_context());
    if (!formatCtx)
        return false;
    formatCtx->interrupt_callback.callback = &InputSession::interruptCallback;
    formatCtx->interrupt_callback.opaque = this;
    // A device read returns at once when no frame is ready, so a stop is always answered (V4L2, and
    // DirectShow, whose blocking read never asks the interrupt callback).
    if (request.device)
        formatCtx->flags |= AVFMT_FLAG_NONBLOCK;
    // A context set before the open is the caller's: FFmpeg neither closes nor frees it.
    formatCtx->pb = request.io;
    openFinished = false;
    readFinished = true;
    probing = false;
    openStart = av_gettime_relative();
    lastTime = openStart.load();

    if (request.device)
        device.beforeOpen(request.openUrl);
    qCDebug(lcMedia) << "Ready avformat_open_input " << stopped.load() << DATETIMEMS;
    // Opening a FIFO blocks in the kernel until a writer comes, where no interrupt callback reaches,
    // and again if that writer has gone by the time FFmpeg opens it. So the session opens it itself,
    // waits for a writer, and FFmpeg reads the descriptor ("pipe:N"); it stays non-blocking, so that a
    // silent writer leaves each read to the interrupt callback too.
    QByteArray openUrl = request.openUrl;
    if (!waitForFifoWriter()) {
        openFinished = true;
        return false;
    }
    if (fifoDescriptor >= 0)
        openUrl = "pipe:" + QByteArray::number(fifoDescriptor);
    const int opened =
        avformat_open_input(av::out(formatCtx), openUrl.constData(), request.format, av::out(options));
    openFinished = true;
    if (opened < 0) {
        qCDebug(lcMedia) << TIMEMS << request.fileFlag << "open input error" << media::errorText(opened)
                         << request.url;
        failureText = media::errorText(opened);
        return false;
    }
    qCDebug(lcMedia) << "Finish avformat_open_input " << stopped.load() << DATETIMEMS;
    if (stopped)
        return false;
    options.reset();

    if (request.device)
        device.afterOpen();

    if (refuseOversized())
        return false;
    qCDebug(lcMedia) << "Ready avformat_find_stream_info " << DATETIMEMS;
    // The decoders that read the stream information refuse pictures above the limit too, so a header
    // that lies about its size cannot make them allocate it.
    const QByteArray maxPixels = QByteArray::number(media::kMaxPicturePixels);
    std::vector<AVDictionary *> decoderOptions(formatCtx->nb_streams, nullptr);
    for (AVDictionary *&entry : decoderOptions)
        av_dict_set(&entry, "max_pixels", maxPixels.constData(), 0);
    probing = true;
    const int found = avformat_find_stream_info(formatCtx.get(), decoderOptions.data());
    probing = false;
    for (AVDictionary *&entry : decoderOptions)
        av_dict_free(&entry);
    qCDebug(lcMedia) << "Finish avformat_find_stream_info " << DATETIMEMS;
    if (found < 0) {
        qCDebug(lcMedia) << TIMEMS << request.fileFlag << "find stream info error" << media::errorText(found);
        failureText = media::errorText(found);
        return false;
    }
    if (refuseOversized())
        return false;
    lastTime = av_gettime_relative();
    return true;
}

bool InputSession::waitForFifoWriter()
{
    const QByteArray path = fifoPath(request.openUrl);
    if (path.isEmpty())
        return true;
    // A reader that does not wait: open at once. A writer that has opened the other end makes it
    // readable (data) or hung up (gone again); until then the wait answers stop and the open time-out.
    fifoDescriptor = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fifoDescriptor < 0) {
        failureText = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    pollfd wanted{fifoDescriptor, POLLIN, 0};
    while (!stopped) {
        if (interruptDecision(av_gettime_relative())) {
            failureText =
                QStringLiteral("no writer opened the FIFO within %1 s").arg(request.checkTime / 1000.0);
            qCDebug(lcMedia) << TIMEMS << request.fileFlag << failureText << request.url;
            return false;
        }
        const int ready = ::poll(&wanted, 1, kFifoPollMs);
        if (ready > 0 && (wanted.revents & POLLIN))
            return true;
        if (ready > 0 && (wanted.revents & POLLHUP)) {
            failureText = QStringLiteral("the FIFO's writer closed it without writing");
            return false;
        }
    }
    failureText = QStringLiteral("stopped while no writer had opened the FIFO");
    return false;
}

bool InputSession::refuseOversized()
{
    const AVStream *stream = oversizedPicture(formatCtx.get());
    if (!stream)
        return false;
    failureText = media::pixelLimitText(stream->codecpar->width, stream->codecpar->height);
    qCDebug(lcMedia) << TIMEMS << request.fileFlag << failureText << request.url;
    return true;
}

void InputSession::close()
{
    formatCtx.reset();
    // FFmpeg's pipe protocol leaves the descriptor to its owner.
    if (fifoDescriptor >= 0)
        ::close(fifoDescriptor);
    fifoDescriptor = -1;
    device.reset();
    probing = false;
}

int InputSession::read(AVPacket *packet)
{
    readFinished = false;
    int result = av_read_frame(formatCtx.get(), packet);
    if (result == AVERROR(EAGAIN) && request.device && device.wait(kReadWaitMs))
        result = av_read_frame(formatCtx.get(), packet);
    readFinished = true;
    if (result >= 0)
        lastTime = av_gettime_relative();
    return result;
}

void InputSession::keepAlive()
{
    lastTime = av_gettime_relative();
}

qint64 InputSession::msSinceLastPacket() const
{
    return (av_gettime_relative() - lastTime) / 1000;
}

bool InputSession::seekToStart()
{
    const qint64 start = formatCtx->start_time != AV_NOPTS_VALUE ? formatCtx->start_time : 0;
    const int result = av_seek_frame(formatCtx.get(), -1, start, AVSEEK_FLAG_BACKWARD);
    if (result < 0) {
        qCDebug(lcMedia) << TIMEMS << request.fileFlag << "seek error" << media::errorText(result)
                         << request.url;
        return false;
    }
    return true;
}

qint64 InputSession::durationSeconds() const
{
    // An unset length (AV_NOPTS_VALUE) stays negative.
    return formatCtx->duration / 1000000;
}

QImage InputSession::readCover() const
{
    const AVDictionaryEntry *tag = nullptr;
    while ((tag = av_dict_get(formatCtx->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)))
        qCDebug(lcMedia) << TIMEMS << request.fileFlag << tag->key << tag->value;

    // The attached pictures were read with the header when the input opened.
    for (unsigned i = 0; i < formatCtx->nb_streams; ++i) {
        const AVStream *stream = formatCtx->streams[i];
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
            return QImage::fromData(stream->attached_pic.data, stream->attached_pic.size);
    }
    return QImage();
}

int InputSession::interruptDecision(qint64 nowUs) const
{
    if (stopped)
        return 1;
    if (!openFinished)
        return nowUs - openStart > qint64(request.checkTime) * 1000 ? 1 : 0;
    if (readFinished)
        return 0;
    return nowUs - lastTime > qint64(request.readTime) * 1000 ? 1 : 0;
}

// Player thread, inside blocking FFmpeg calls. Locks the process-wide interrupt mutex.
int InputSession::interruptCallback(void *opaque)
{
    qCDebug(lcMediaInterrupt) << "AVInterruptCallBackFun";
    auto *session = static_cast<const InputSession *>(opaque);
    // Reading the stream information of a device asks again and again while no frame is ready: wait for
    // one here (outside the lock) rather than spin.
    if (session->probing && session->request.device && !session->stopped) {
        // Without its descriptor, at least do not ask more than about once a millisecond.
        if (!session->device.wait(kProbeWaitMs) && session->device.descriptor() < 0)
            av_usleep(1000);
    }
    QMutexLocker locker(&interruptMutex);
    return session->interruptDecision(av_gettime_relative());
}

void InputSession::rebase(AVPacket *packet, qint64 startTime)
{
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts -= startTime;
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts -= startTime;
}
