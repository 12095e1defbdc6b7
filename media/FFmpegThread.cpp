#include "media/FFmpegThread.h"

#include "media/FFmpegSync.h"
#include "media/LogTime.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

#include <QDebug>
#include <QEventLoop>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

#include <cmath>

namespace {
QMutex libMutex;
bool libInitialised = false;
// Held by every run of the interrupt callback, for all players.
QMutex interruptMutex;
// Hardware surface format chosen by the last generic hardware set-up (all players share it).
std::atomic<int> hwPixelFormat{-1};

// Socket-level bound of every wait inside a network protocol, in microseconds.
const char *const kSocketTimeout = "3000000";

bool startsWithAnyCase(const QString &text, const char *prefix)
{
    return text.startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
}

int swsFlagsFor(FFmpegThread::ImageFlag flag)
{
    switch (flag) {
    case FFmpegThread::ImageFlag_Bicubic:
        return SWS_BICUBIC;
    case FFmpegThread::ImageFlag_Bilinear:
        return SWS_BILINEAR;
    default:
        return SWS_FAST_BILINEAR;
    }
}

double rationalValue(AVRational q)
{
    return q.den != 0 ? double(q.num) / q.den : 0.0;
}

AVPixelFormat hwGetFormat(AVCodecContext *, const AVPixelFormat *formats)
{
    for (const AVPixelFormat *p = formats; *p != AV_PIX_FMT_NONE; ++p) {
        if (*p == hwPixelFormat.load())
            return *p;
    }
    qDebug() << TIMEMS << "Failed to get HW surface format";
    return AV_PIX_FMT_NONE;
}

// The decoder's opaque pointer is the player's hwDeviceRef. The first negotiation builds the frames
// context on that device and releases the player's reference (the frames context keeps the device);
// a later negotiation finds it released and refuses.
AVPixelFormat qsvGetFormat(AVCodecContext *context, const AVPixelFormat *formats)
{
    for (const AVPixelFormat *p = formats; *p != AV_PIX_FMT_NONE; ++p) {
        if (*p != AV_PIX_FMT_QSV)
            continue;
        auto *deviceRef = static_cast<av::BufferRefPtr *>(context->opaque);
        if (!deviceRef || !*deviceRef)
            return AV_PIX_FMT_NONE;
        av_buffer_unref(&context->hw_frames_ctx);
        context->hw_frames_ctx = av_hwframe_ctx_alloc(deviceRef->get());
        deviceRef->reset();
        if (!context->hw_frames_ctx)
            return AV_PIX_FMT_NONE;
        auto *frames = reinterpret_cast<AVHWFramesContext *>(context->hw_frames_ctx->data);
        frames->format = AV_PIX_FMT_QSV;
        frames->sw_format = context->sw_pix_fmt;
        frames->width = FFALIGN(context->coded_width, 32);
        frames->height = FFALIGN(context->coded_height, 32);
        frames->initial_pool_size = 32;
        return av_hwframe_ctx_init(context->hw_frames_ctx) < 0 ? AV_PIX_FMT_NONE : AV_PIX_FMT_QSV;
    }
    qDebug() << TIMEMS << "The QSV pixel format not offered in get_format()";
    return AV_PIX_FMT_NONE;
}

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
} // namespace

FFmpegThread::FFmpegThread(QObject *parent) : QThread(parent)
{
    lastTime = QDateTime::currentDateTime();
    setObjectName(QStringLiteral("FFmpegThread"));

    url.clear();
    hardware = QStringLiteral("none");
    transport = QStringLiteral("tcp");
    imageFlag = ImageFlag_Bicubic;
    videoFps = 0.0;
    sleepTime = 0;
    readTime = 8000;
    checkTime = 3000;
    checkConn = false;
    playRepeat = false;
    playAudio = false;
    multiMode = false;
    videoWidth = 640;
    videoHeight = 480;
    saveFile = false;
    saveInterval = 0;
    fileFlag = QStringLiteral("Ch1");
    saveMp4 = true;

    errorCount = 0;
    lastResult = 0;
    frameRate = 0;
    rotate = 0;
    videoIndex = -1;
    audioIndex = -1;
    duration = -1;
    position = 0;
    saveFrameIndex = 0;
    saveOpen = false;
    useSync = false;
    audioStarted = false;

    fileName = QStringLiteral("%1/%2_%3.mp4")
                   .arg(savePath, fileFlag,
                        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HH-mm-ss")));
    saveTime =
        QDateTime::fromString(QStringLiteral("1970-01-01 00:00:00"), QStringLiteral("yyyy-MM-dd HH:mm:ss"));

    saveTimer = new QTimer(this);
    saveTimer->setInterval(60000);
    connect(saveTimer, SIGNAL(timeout()), this, SLOT(saveVideo()));

    initLib();

    audioSync = new FFmpegSync(FFmpegSync::Audio, this);
    videoSync = new FFmpegSync(FFmpegSync::Video, this);

    positionTimer = new QTimer(this);
    positionTimer->setInterval(100);
    connect(positionTimer, SIGNAL(timeout()), this, SLOT(setPosition()));
}

FFmpegThread::~FFmpegThread()
{
    if (saveTimer->isActive())
        saveTimer->stop();
    if (positionTimer->isActive())
        positionTimer->stop();
    delete videoSync;
    delete audioSync;
}

void FFmpegThread::initLib()
{
    QMutexLocker locker(&libMutex);
    if (libInitialised)
        return;
    avdevice_register_all();
    avformat_network_init();
    av_log_set_level(AV_LOG_QUIET);
    libInitialised = true;
    qDebug() << TIMEMS << "init ffmpeg lib ok"
             << " version:" << av_version_info();
}

QString FFmpegThread::errorText(int errorCode)
{
    char buffer[256] = {0};
    av_strerror(errorCode, buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

FFmpegThread::ConnectTarget FFmpegThread::connectTarget(const QString &url)
{
    static const QRegularExpression ipv4(
        QStringLiteral("((?:(?:25[0-5]|2[0-4]\\d|[01]?\\d?\\d)\\.){3}(?:25[0-5]|2[0-4]\\d|[01]?\\d?\\d))"));
    ConnectTarget target;
    const auto match = ipv4.match(url);
    target.host = match.hasMatch() ? match.captured(1) : url;

    const QStringList parts = url.split(QLatin1Char(':'));
    const int portPart = url.contains(QLatin1Char('@')) ? 3 : 2;
    if (parts.size() >= 3 && portPart < parts.size()) {
        QString piece = parts.at(portPart);
        const int slash = piece.indexOf(QLatin1Char('/'));
        if (slash >= 0)
            piece.truncate(slash);
        bool ok = false;
        const int port = piece.toInt(&ok);
        if (ok && port > 0 && port < 65536)
            target.port = quint16(port);
    }
    return target;
}

bool FFmpegThread::checkConnect(const QString &url, int timeout)
{
    const ConnectTarget target = connectTarget(url);
    QTcpSocket socket;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    timer.start(timeout);
    socket.connectToHost(target.host, target.port);
    if (socket.state() != QAbstractSocket::ConnectedState &&
        socket.state() != QAbstractSocket::UnconnectedState)
        loop.exec();
    const bool connected = socket.state() == QAbstractSocket::ConnectedState;
    socket.abort();
    if (!connected)
        qDebug() << TIMEMS << url << "connect error";
    return connected;
}

// Player thread, inside blocking FFmpeg calls. Locks the process-wide interrupt mutex.
int FFmpegThread::AVInterruptCallBackFun(void *opaque)
{
    qDebug() << "AVInterruptCallBackFun";
    QMutexLocker locker(&interruptMutex);
    auto *player = static_cast<FFmpegThread *>(opaque);
    if (player->stopped)
        return 1;
    if (!player->openFinished)
        return av_gettime() - player->startTime > qint64(player->checkTime) * 1000 ? 1 : 0;
    if (player->readFinished)
        return 0;
    return player->lastTime.msecsTo(QDateTime::currentDateTimeUtc()) > player->readTime ? 1 : 0;
}

int FFmpegThread::streamRotation(const AVStream *stream)
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

void FFmpegThread::run()
{
    startTime = av_gettime();
    while (!stopped) {
        if (openPending) {
            // A new play() during playback: the input that is open goes first.
            releaseInput();
            if (!init()) {
                emit receivePlayError();
                break;
            }
            lastTime = QDateTime::currentDateTimeUtc();
            if (saveFile) {
                if (saveInterval > 0) {
                    initSaveFileName();
                    QMetaObject::invokeMethod(this, "startSave", Qt::QueuedConnection);
                }
                if (saveMp4)
                    saveVideoMp4(fileName);
                else
                    saveVideoH264(fileName);
            }
            emit receivePlayStart();
            openPending = false;
            continue;
        }

        if (!formatCtx) {
            // Nothing is read before an input is open: idle until play() asks for one.
        } else if (paused) {
            lastTime = QDateTime::currentDateTimeUtc();
        } else if (videoSync->packetCount() >= 100 || audioSync->packetCount() >= 100) {
            // The queues are full: read nothing.
        } else {
            readFinished = false;
            lastResult = av_read_frame(formatCtx.get(), packet.get());
            readFinished = true;
            if (lastResult >= 0) {
                errorCount = 0;
                lastTime = QDateTime::currentDateTimeUtc();
                if (packet->stream_index == videoIndex) {
                    if (videoStartTime > 1000000) {
                        packet->pts -= videoStartTime;
                        packet->dts = packet->pts;
                    }
                    if (useSync)
                        videoSync->append(av_packet_clone(packet.get()));
                    else
                        decodeVideo(packet.get());
                } else if (packet->stream_index == audioIndex) {
                    handleAudio(packet.get());
                }
            } else if (!handleReadFailure()) {
                av_packet_unref(packet.get());
                break;
            }
            av_packet_unref(packet.get());
        }
        msleep(1);
    }

    QMetaObject::invokeMethod(this, "stopSave", Qt::QueuedConnection);
    msleep(100);
    freeAll();
    if (audioStarted) {
        if (audioDevice)
            audioDevice->close();
        audioDevice = nullptr;
        audioStarted = false;
    }
    emit receivePlayFinsh();
    qDebug() << TIMEMS << fileFlag << "stop ffmpeg thread" << url;
}

bool FFmpegThread::handleReadFailure()
{
    if (isNetwork) {
        ++errorCount;
        qDebug() << TIMEMS << fileFlag << "errorCount" << errorCount << url;
        if (errorCount >= 3) {
            errorCount = 0;
            return false;
        }
        return true;
    }

    // No-frame report, at most once a second while reads fail. A non-blocking device answers "try
    // again" between its frames: that counts only once no frame has come for a second.
    const bool idleDevice = lastResult == AVERROR(EAGAIN);
    if (!idleDevice || lastTime.msecsTo(QDateTime::currentDateTimeUtc()) > 1000) {
        if (!noFrameTime.isValid()) {
            noFrameTime.start();
        } else if (noFrameTime.elapsed() > 1000) {
            qDebug() << "Play Back File End";
            emit sigUVCNoFrame();
            noFrameTime.restart();
        }
    }

    if (lastResult != AVERROR_EOF || videoSync->packetCount() > 0 || audioSync->packetCount() > 0)
        return true;

    // End of input: what the decoder still holds belongs to the file too.
    drainVideo();
    if (!playRepeat)
        return false;

    position = 0;
    videoSync->reset();
    audioSync->reset();
    if (!videoSync->isRunning())
        videoSync->start(QThread::InheritPriority);
    if (!audioSync->isRunning())
        audioSync->start(QThread::InheritPriority);
    QMetaObject::invokeMethod(this, "setPosition", Qt::QueuedConnection, Q_ARG(qlonglong, position));
    qDebug() << TIMEMS << fileFlag << "repeat" << url;
    return seekToStart();
}

void FFmpegThread::drainVideo()
{
    if (!videoCodecCtx || videoIndex < 0 || useSync)
        return;
    decodeVideo(nullptr);
}

bool FFmpegThread::seekToStart()
{
    const qint64 start = formatCtx->start_time != AV_NOPTS_VALUE ? formatCtx->start_time : 0;
    const int result = av_seek_frame(formatCtx.get(), -1, start, AVSEEK_FLAG_BACKWARD);
    if (result < 0) {
        qDebug() << TIMEMS << fileFlag << "seek error" << errorText(result) << url;
        return false;
    }
    if (videoCodecCtx)
        avcodec_flush_buffers(videoCodecCtx.get());
    if (audioCodecCtx)
        avcodec_flush_buffers(audioCodecCtx.get());
    // Audio pacing starts over with the file.
    startTime = av_gettime();
    noFrameTime.invalidate();
    return true;
}

bool FFmpegThread::init()
{
    if (url.isEmpty())
        return false;
    if (checkConn && isNetwork && !checkConnect(url, checkTime))
        return false;

    QElapsedTimer elapsed;
    elapsed.start();
    // The open time-out and the audio pacing count from the start of this open.
    startTime = av_gettime();
    initOption();
    if (!initInput())
        return false;
    if (!initVideo())
        return false;
    if (!initAudio())
        return false;
    initData();
    qDebug() << TIMEMS << fileFlag
             << qUtf8Printable(QStringLiteral("Ini Finish -> Time-consuming: %1 sec  Addr: %2")
                                   .arg(double(elapsed.elapsed()) / 1000, 0, 'f', 3)
                                   .arg(url));
    return true;
}

void FFmpegThread::initOption()
{
    auto set = [this](const char *key, const QByteArray &value) {
        av_dict_set(av::out(options), key, value.constData(), 0);
    };
    set("buffer_size", "8192000");
    set("rtsp_transport", transport.toUtf8());
    // Every protocol gets the option that bounds its socket waits: RTSP calls it "timeout" (µs); for
    // RTMP "timeout" would mean "listen", so RTMP, HTTP and the other socket protocols get "rw_timeout".
    if (startsWithAnyCase(url, "rtsp"))
        set("timeout", kSocketTimeout);
    else if (startsWithAnyCase(url, "rtmp") || startsWithAnyCase(url, "http") ||
             startsWithAnyCase(url, "tcp:") || startsWithAnyCase(url, "udp:") ||
             startsWithAnyCase(url, "rtp:") || startsWithAnyCase(url, "unix:"))
        set("rw_timeout", kSocketTimeout);
    set("max_delay", "1000000");
    set("threads", "auto");
    // An SDP file opens RTP and UDP itself, which the file protocol does not allow by default.
    if (url.endsWith(QLatin1String(".sdp")))
        set("protocol_whitelist", "file,udp,rtp,crypto,data");

    if (isDevice) {
        if (videoWidth > 0 && videoHeight > 0)
            set("video_size", QStringLiteral("%1x%2").arg(videoWidth).arg(videoHeight).toUtf8());
        if (frameRate != 0)
            set("framerate", QByteArray::number(frameRate));
        callback = true;
        hardware = QStringLiteral("none");
    }
    callback = true;
    if (startsWithAnyCase(url, "rtmp"))
        saveMp4 = false;
}

bool FFmpegThread::initInput()
{
    formatCtx.reset(avformat_alloc_context());
    if (!formatCtx)
        return false;
    formatCtx->interrupt_callback.callback = &FFmpegThread::AVInterruptCallBackFun;
    formatCtx->interrupt_callback.opaque = this;
    openFinished = false;
    readFinished = true;

    QByteArray openUrl = url.toUtf8();
    const AVInputFormat *inputFormat = nullptr;
    if (isDevice) {
        const CaptureInputResolver::Input input = captureResolver.resolve(url);
        openUrl = input.url.toUtf8();
        const QByteArray formatName = input.format.toUtf8();
        inputFormat = formatName.isEmpty() ? nullptr : av_find_input_format(formatName.constData());
        qDebug() << QByteArray("av_find_input_format(\"" + formatName + "\")").constData()
                 << static_cast<const void *>(inputFormat);
        // A V4L2 read returns at once when no frame is ready, so stop() is always answered.
        if (formatName == "v4l2")
            formatCtx->flags |= AVFMT_FLAG_NONBLOCK;
    }

    qDebug() << "Ready avformat_open_input " << stopped.load() << DATETIMEMS;
    const int opened =
        avformat_open_input(av::out(formatCtx), openUrl.constData(), inputFormat, av::out(options));
    openFinished = true;
    if (opened < 0) {
        qDebug() << TIMEMS << fileFlag << "open input error" << errorText(opened) << url;
        return false;
    }
    qDebug() << "Finish avformat_open_input " << stopped.load() << DATETIMEMS;
    if (stopped)
        return false;
    options.reset();

    qDebug() << "Ready avformat_find_stream_info " << DATETIMEMS;
    const int found = avformat_find_stream_info(formatCtx.get(), nullptr);
    qDebug() << "Finish avformat_find_stream_info " << DATETIMEMS;
    if (found < 0) {
        qDebug() << TIMEMS << fileFlag << "find stream info error" << errorText(found);
        return false;
    }
    return true;
}

bool FFmpegThread::initVideo()
{
    videoIndex = av_find_best_stream(formatCtx.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &videoCodec, 0);
    if (videoIndex < 0) {
        videoIndex = -1;
        qDebug() << TIMEMS << fileFlag << "find video stream index error";
        return true;
    }
    AVStream *stream = formatCtx->streams[videoIndex];

    softwareDecode = hardware == QLatin1String("none");
    if (softwareDecode) {
        videoCodec = avcodec_find_decoder(stream->codecpar->codec_id);
        if (!videoCodec) {
            qDebug() << TIMEMS << fileFlag << "video decoder not found";
            return false;
        }
        videoCodecCtx.reset(avcodec_alloc_context3(videoCodec));
        if (!videoCodecCtx) {
            qDebug() << TIMEMS << fileFlag << "avcodec_alloc_context3 error";
            return false;
        }
        if (avcodec_parameters_to_context(videoCodecCtx.get(), stream->codecpar) < 0) {
            qDebug() << TIMEMS << fileFlag << "avcodec_parameters_to_context error";
            return false;
        }
    } else if (hardware == QLatin1String("qsv")) {
        if (!initQsv())
            return false;
    } else if (!initHardware()) {
        return false;
    }
    videoCodecCtx->pkt_timebase = stream->time_base;

    videoCodecCtx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER | AV_CODEC_FLAG_LOW_DELAY;
    videoCodecCtx->flags2 |= AV_CODEC_FLAG2_FAST;

    const int result = avcodec_open2(videoCodecCtx.get(), videoCodec, nullptr);
    if (result < 0) {
        qDebug() << TIMEMS << fileFlag << "open video codec error" << errorText(result);
        return false;
    }

    videoWidth = stream->codecpar->width;
    videoHeight = stream->codecpar->height;
    if (videoWidth == 0 || videoHeight == 0) {
        qDebug() << TIMEMS << fileFlag << "find width height error";
        return false;
    }
    videoStartTime = stream->start_time;

    const double fps = rationalValue(stream->r_frame_rate);
    qDebug() << TIMEMS << fileFlag
             << qUtf8Printable(
                    QStringLiteral("Other Info -> start_time: %1  r_frame_rate: %2  avg_frame_rate: %3")
                        .arg(videoStartTime)
                        .arg(qint64(fps))
                        .arg(qint64(rationalValue(stream->avg_frame_rate))));
    if (videoFps == 0.0 && fps > 0)
        videoFps = fps;

    rotate = streamRotation(stream);
    const bool turned = rotate == 90 || rotate == 270;
    outputWidth = turned ? videoHeight : videoWidth;
    outputHeight = turned ? videoWidth : videoHeight;
    if (!imagePool.reset(outputWidth, outputHeight))
        return false;
    if (rotate != 0) {
        rotateSource = QImage(videoWidth, videoHeight, QImage::Format_RGB32);
        if (rotateSource.isNull())
            return false;
    }

    qDebug() << TIMEMS << fileFlag
             << qUtf8Printable(QStringLiteral("Video Info -> Index: %1  Decode: %2  fps: %3  Size: %4*%5")
                                   .arg(videoIndex)
                                   .arg(QString::fromUtf8(videoCodec->name))
                                   .arg(fps)
                                   .arg(videoWidth)
                                   .arg(videoHeight));
    return true;
}

bool FFmpegThread::initHardware()
{
    const AVHWDeviceType type = av_hwdevice_find_type_by_name(hardware.toUtf8().constData());
    switch (type) {
    case AV_HWDEVICE_TYPE_DXVA2:
        hwPixelFormat = AV_PIX_FMT_DXVA2_VLD;
        break;
    case AV_HWDEVICE_TYPE_D3D11VA:
        hwPixelFormat = AV_PIX_FMT_D3D11;
        break;
    case AV_HWDEVICE_TYPE_VAAPI:
        hwPixelFormat = AV_PIX_FMT_VAAPI;
        break;
    case AV_HWDEVICE_TYPE_VDPAU:
        hwPixelFormat = AV_PIX_FMT_VDPAU;
        break;
    case AV_HWDEVICE_TYPE_VIDEOTOOLBOX:
        hwPixelFormat = AV_PIX_FMT_VIDEOTOOLBOX;
        break;
    default:
        hwPixelFormat = -1;
        qDebug() << TIMEMS << fileFlag << "cannot support hardware";
        return false;
    }

    videoCodecCtx.reset(avcodec_alloc_context3(videoCodec));
    if (!videoCodecCtx) {
        qDebug() << TIMEMS << fileFlag << "avcodec_alloc_context3 error";
        return false;
    }
    if (avcodec_parameters_to_context(videoCodecCtx.get(), formatCtx->streams[videoIndex]->codecpar) < 0) {
        qDebug() << TIMEMS << fileFlag << "avcodec_parameters_to_context error";
        return false;
    }
    videoCodecCtx->get_format = hwGetFormat;

    av::BufferRefPtr device;
    const int result = av_hwdevice_ctx_create(av::out(device), type, nullptr, nullptr, 0);
    if (result < 0) {
        qDebug() << TIMEMS << fileFlag << "open the hardware device error" << errorText(result);
        return false;
    }
    videoCodecCtx->hw_device_ctx = av_buffer_ref(device.get());
    return true;
}

bool FFmpegThread::initQsv()
{
    const int result = av_hwdevice_ctx_create(av::out(hwDeviceRef), AV_HWDEVICE_TYPE_QSV, "auto", nullptr, 0);
    if (result < 0) {
        qDebug() << TIMEMS << fileFlag << "open the hardware device error" << errorText(result);
        return false;
    }
    videoCodec = avcodec_find_decoder_by_name("h264_qsv");
    if (!videoCodec) {
        qDebug() << TIMEMS << fileFlag << "video decoder not found";
        return false;
    }
    videoCodecCtx.reset(avcodec_alloc_context3(videoCodec));
    if (!videoCodecCtx) {
        qDebug() << TIMEMS << fileFlag << "avcodec_alloc_context3 error";
        return false;
    }
    videoCodecCtx->codec_id = AV_CODEC_ID_H264;
    const AVCodecParameters *par = formatCtx->streams[videoIndex]->codecpar;
    if (par->extradata_size > 0) {
        auto *extra =
            static_cast<uint8_t *>(av_mallocz(size_t(par->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!extra)
            return false;
        memcpy(extra, par->extradata, size_t(par->extradata_size));
        videoCodecCtx->extradata = extra;
        videoCodecCtx->extradata_size = par->extradata_size;
    }
    videoCodecCtx->opaque = &hwDeviceRef;
    videoCodecCtx->get_format = qsvGetFormat;
    return true;
}

bool FFmpegThread::initAudio()
{
    audioIndex = av_find_best_stream(formatCtx.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &audioCodec, 0);
    if (audioIndex < 0) {
        audioIndex = -1;
        qDebug() << TIMEMS << fileFlag << "find audio stream index error";
        return true;
    }
    AVStream *stream = formatCtx->streams[audioIndex];
    audioCodec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!audioCodec) {
        qDebug() << TIMEMS << fileFlag << "audio codec not found";
        return false;
    }
    audioCodecCtx.reset(avcodec_alloc_context3(audioCodec));
    if (!audioCodecCtx || avcodec_parameters_to_context(audioCodecCtx.get(), stream->codecpar) < 0) {
        qDebug() << TIMEMS << fileFlag << "audio codec not found";
        return false;
    }
    audioCodecCtx->pkt_timebase = stream->time_base;
    const int result = avcodec_open2(audioCodecCtx.get(), audioCodec, nullptr);
    if (result < 0) {
        qDebug() << TIMEMS << fileFlag << "open audio codec error" << errorText(result);
        return false;
    }
    audioStartTime = stream->start_time;
    const int rate = audioCodecCtx->sample_rate;
    audioStarted = false;
    if (playAudio)
        initAudioOutput(rate, 2, 2);

    qDebug() << TIMEMS << fileFlag
             << qUtf8Printable(
                    QStringLiteral("音频信息 -> 索引: %1  解码: %2  比特率: %3  声道数: %4  采样: %5")
                        .arg(audioIndex)
                        .arg(QString::fromUtf8(audioCodec->name))
                        .arg(formatCtx->bit_rate)
                        .arg(2)
                        .arg(rate));
    return true;
}

// Audio output comes with a later feature: until then audio packets are only paced.
void FFmpegThread::initAudioOutput(int, int, int) {}

void FFmpegThread::initData()
{
    packet.reset(av_packet_alloc());
    if (audioIndex >= 0)
        audioFrame.reset(av_frame_alloc());
    if (videoIndex >= 0) {
        hwFrame.reset(av_frame_alloc());
        rgbFrame.reset(av_frame_alloc());
        videoFrame.reset(av_frame_alloc());
        frameDecoded = false;
        const AVPixelFormat source = softwareDecode ? videoCodecCtx->pix_fmt : AV_PIX_FMT_NV12;
        // The converter follows each frame's own format and size (sws_getCachedContext), so a stream
        // that changes either mid-way still converts correctly.
        swsCtx.reset(sws_getContext(videoWidth, videoHeight, source, videoWidth, videoHeight, AV_PIX_FMT_BGRA,
                                    swsFlagsFor(imageFlag), nullptr, nullptr, nullptr));
        qDebug() << TIMEMS << fileFlag
                 << qUtf8Printable(QStringLiteral("Format Info -> Src Format: %1  Dst Format: %2")
                                       .arg(int(source))
                                       .arg(int(AV_PIX_FMT_BGRA)));
    }

    formatName = QString::fromUtf8(formatCtx->iformat->name);
    if (formatName == QLatin1String("rtsp") || url.endsWith(QLatin1String(".sdp")))
        useSync = false;
    if (imageFlag == ImageFlag_Immediate)
        useSync = false;
    if (formatName == QLatin1String("rm"))
        hardware = QStringLiteral("none");

    duration = formatCtx->duration / 1000000;
    if (!isDevice)
        isNetwork = duration <= 0;
    if (!isNetwork && !isDevice)
        emit fileLengthReceive(duration * 1000);
    qDebug() << TIMEMS << fileFlag
             << qUtf8Printable(QStringLiteral("File Info -> Format: %1  TimeLen: %2 sec  Decode: %3")
                                   .arg(formatName)
                                   .arg(duration)
                                   .arg(hardware));

    if (formatName == QLatin1String("mp3")) {
        videoIndex = -1;
        readCover();
    }

    if (videoIndex < 0)
        saveFile = false;
    else if (!isNetwork && !(url.startsWith(QLatin1String("http")) && url.endsWith(QLatin1String("mp4"))))
        saveFile = false;
}

void FFmpegThread::readCover()
{
    const AVDictionaryEntry *tag = nullptr;
    while ((tag = av_dict_get(formatCtx->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)))
        qDebug() << TIMEMS << fileFlag << tag->key << tag->value;

    // The attached pictures were read with the header when the input opened.
    for (unsigned i = 0; i < formatCtx->nb_streams; ++i) {
        const AVStream *stream = formatCtx->streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        const AVPacket &picture = stream->attached_pic;
        const QImage image = QImage::fromData(picture.data, picture.size);
        if (!image.isNull())
            emit receiveImage(image);
        break;
    }
}

int FFmpegThread::decodeHardware(AVCodecContext *context, AVPacket *pkt, AVFrame *hw, AVFrame *sw)
{
    int result = avcodec_send_packet(context, pkt);
    if (result < 0) {
        qDebug() << TIMEMS << "Error during decoding";
        return result;
    }
    while (true) {
        result = avcodec_receive_frame(context, hw);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return 1;
        if (result < 0) {
            qDebug() << TIMEMS << "Error during decoding";
            return 1;
        }
        const int transferred = av_hwframe_transfer_data(sw, hw, 0);
        if (transferred < 0) {
            qDebug() << TIMEMS << "Error transferring the data to system memory";
            av_frame_unref(sw);
            av_frame_unref(hw);
            return transferred;
        }
        frameDecoded = true;
    }
}

// Player thread (or the video queue thread in sync mode). A null packet drains the decoder.
void FFmpegThread::decodeVideo(AVPacket *pkt)
{
    if (!videoCodecCtx)
        return;
    if (!softwareDecode) {
        lastResult = decodeHardware(videoCodecCtx.get(), pkt, hwFrame.get(), videoFrame.get());
        // Nothing to show before the first transferred frame.
        if (!frameDecoded && lastResult >= 0)
            lastResult = AVERROR(EAGAIN);
        handleFrame(pkt);
        return;
    }

    lastResult = avcodec_send_packet(videoCodecCtx.get(), pkt);
    if (lastResult < 0)
        return;
    // Every frame the decoder has ready goes out now, so none is held back behind its packet.
    bool delivered = false;
    while ((lastResult = avcodec_receive_frame(videoCodecCtx.get(), videoFrame.get())) >= 0) {
        delivered = true;
        handleFrame(pkt);
    }
    if (!delivered && pkt)
        handleFrame(pkt);
}

void FFmpegThread::decodeAudio(AVPacket *)
{
    // Audio output comes with a later feature; nothing is decoded for it yet.
}

void FFmpegThread::handleAudio(AVPacket *pkt)
{
    if (audioStartTime > 1000000) {
        pkt->pts -= audioStartTime;
        pkt->dts = pkt->pts;
    }
    if (useSync) {
        audioSync->append(av_packet_clone(pkt));
        return;
    }
    if (playAudio)
        decodeAudio(pkt);

    if (imageFlag == ImageFlag_Immediate)
        return;
    const qint64 stamp = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : (pkt->pts != AV_NOPTS_VALUE ? pkt->pts : 0);
    const qint64 due = av_rescale_q(stamp, formatCtx->streams[audioIndex]->time_base, AV_TIME_BASE_Q);
    const qint64 delay = startTime + due - av_gettime();
    if (delay > 0 && delay < 1000000)
        av_usleep(unsigned(delay));
}

void FFmpegThread::handleFrame(AVPacket *pkt)
{
    if (lastResult < 0) {
        if (pkt)
            av_packet_unref(pkt);
        msleep(1);
        return;
    }
    if (++frameCount < interval) {
        if (pkt)
            av_packet_unref(pkt);
        msleep(1);
        return;
    }
    frameCount = 0;

    // Recording write and scheduled stop come with the recorder.

    if (!snapPending && !callback) {
        emit receiveFrame(videoFrame.get());
        return;
    }
    const QImage *image = convertFrame();
    if (!image) {
        snapPending = false;
        return;
    }
    if (snapPending)
        emit snapImage(*image);
    else
        emit receiveImage(*image);
    snapPending = false;
}

const QImage *FFmpegThread::convertFrame()
{
    const AVFrame *frame = videoFrame.get();
    swsCtx.reset(sws_getCachedContext(swsCtx.release(), frame->width, frame->height,
                                      AVPixelFormat(frame->format), videoWidth, videoHeight, AV_PIX_FMT_BGRA,
                                      swsFlagsFor(imageFlag), nullptr, nullptr, nullptr));
    if (!swsCtx)
        return nullptr;

    const bool rightAngle = rotate == 90 || rotate == 180 || rotate == 270;
    QImage *target = rotate != 0 ? &rotateSource : imagePool.acquire();
    if (!target || target->isNull())
        return nullptr;
    rgbFrame->data[0] = target->bits();
    rgbFrame->linesize[0] = int(target->bytesPerLine());
    lastResult = sws_scale(swsCtx.get(), frame->data, frame->linesize, 0, frame->height, rgbFrame->data,
                           rgbFrame->linesize);
    if (lastResult < 0)
        return nullptr;
    if (rotate == 0)
        return target;

    if (rightAngle) {
        QImage *turned = imagePool.acquire();
        if (!turned || turned->isNull())
            return nullptr;
        rotateRightAngle(rotateSource, *turned, rotate);
        return turned;
    }
    freeRotation = rotateSource.transformed(QTransform().rotate(rotate), Qt::SmoothTransformation);
    return freeRotation.isNull() ? nullptr : &freeRotation;
}

void FFmpegThread::releaseInput()
{
    for (FFmpegSync *sync : {audioSync, videoSync}) {
        if (sync->isRunning()) {
            sync->stop();
            sync->quit();
            sync->wait();
        }
    }
    closeVideoH264();
    swsCtx.reset();
    swrCtx.reset();
    packet.reset();
    hwFrame.reset();
    rgbFrame.reset();
    videoFrame.reset();
    audioFrame.reset();
    imagePool.clear();
    rotateSource = QImage();
    freeRotation = QImage();
    imageBuffer.reset();
    audioBuffer.reset();
    videoCodecCtx.reset();
    audioCodecCtx.reset();
    hwDeviceRef.reset();
    formatCtx.reset();
    videoCodec = nullptr;
    audioCodec = nullptr;
    videoIndex = -1;
    audioIndex = -1;
    noFrameTime.invalidate();
}

void FFmpegThread::freeAll()
{
    releaseInput();
    options.reset();
    stopped = false;
    openPending = false;
    paused = false;
    saveSwitching = false;
    saveOpen = false;
    useSync = false;
    errorCount = 0;
    frameCount = 0;
    saveFrameIndex = 0;
    rotate = 0;
    videoWidth = 640;
    videoHeight = 480;
    frameRate = 0;
}

// --- recording (a later feature; the slots exist so owners can wire them now)
void FFmpegThread::initSaveFileName() {}
void FFmpegThread::initSave() {}
void FFmpegThread::startSave()
{
    saveTimer->start(saveInterval * 1000);
}
void FFmpegThread::stopSave()
{
    closeVideo();
    if (saveTimer->isActive())
        saveTimer->stop();
}
void FFmpegThread::saveVideo() {}
void FFmpegThread::saveVideoMp4(const QString &) {}
void FFmpegThread::saveVideoH264(const QString &) {}
void FFmpegThread::closeVideo() {}
void FFmpegThread::closeVideoMp4() {}
void FFmpegThread::closeVideoH264() {}

void FFmpegThread::setPosition() {}
void FFmpegThread::setPosition(qlonglong) {}

// --- setters
void FFmpegThread::setInterval(int value)
{
    if (value > 0) {
        interval = value;
        frameCount = 0;
    }
}

void FFmpegThread::setVideoFps(double value)
{
    if (value > 0)
        videoFps = value;
}

void FFmpegThread::setSleepTime(int value)
{
    if (value > 0)
        sleepTime = value;
}

void FFmpegThread::setReadTime(int value)
{
    readTime = value;
}
void FFmpegThread::setCheckTime(int value)
{
    checkTime = value;
}
void FFmpegThread::setCheckConn(bool value)
{
    checkConn = value;
}
void FFmpegThread::setPlayRepeat(bool value)
{
    playRepeat = value;
}
void FFmpegThread::setPlayAudio(bool value)
{
    playAudio = value;
}
void FFmpegThread::setSaveMp4(bool value)
{
    saveMp4 = value;
}
void FFmpegThread::setCallback(bool value)
{
    callback = value;
}
void FFmpegThread::setSaveFile(bool value)
{
    saveFile = value;
}

void FFmpegThread::setMultiMode(bool multi, int width, int height)
{
    multiMode = multi;
    videoWidth = width;
    videoHeight = height;
}

void FFmpegThread::setUrl(const QString &value)
{
    url = value;
    if (url.isEmpty())
        return;
    isNetwork =
        startsWithAnyCase(url, "rtsp") || startsWithAnyCase(url, "rtmp") || startsWithAnyCase(url, "http");
    isDevice = url.startsWith(QLatin1String("video")) || url.startsWith(QLatin1String("/dev/"));
    if (!isDevice || !url.contains(QLatin1Char('|')) || !url.contains(QLatin1Char('x')))
        return;

    const QStringList parts = value.split(QLatin1Char('|'));
    if (parts.size() < 2)
        return;
    url = parts.at(0);
    // "WIDTHxHEIGHT"; a missing or non-numeric piece gives 0, and a size with a 0 is not requested.
    const QStringList size = parts.at(1).split(QLatin1Char('x'));
    videoWidth = size.at(0).toInt();
    videoHeight = size.size() > 1 ? size.at(1).toInt() : 0;
    qDebug() << TIMEMS << fileFlag << "Adjust the size" << value << parts.at(1);
    if (parts.size() >= 3) {
        frameRate = parts.at(2).toInt();
        qDebug() << TIMEMS << fileFlag << "Adjust the FPS" << value << frameRate;
    }
}

void FFmpegThread::setHardware(const QString &value)
{
    hardware = value;
}
void FFmpegThread::setTransport(const QString &value)
{
    transport = value;
}
void FFmpegThread::setSavePath(const QString &value)
{
    savePath = value;
}
void FFmpegThread::setFileFlag(const QString &value)
{
    fileFlag = value;
}
void FFmpegThread::setFileName(const QString &value)
{
    fileName = value;
}
void FFmpegThread::setImageFlag(FFmpegThread::ImageFlag value)
{
    imageFlag = value;
}

void FFmpegThread::setOption(const char *key, const char *value)
{
    av_dict_set(av::out(options), key, value, 0);
}

void FFmpegThread::setSaveInterval(int value)
{
    saveInterval = value;
}
void FFmpegThread::setSaveTime(const QDateTime &value)
{
    saveTime = value;
}

// --- control
// Any thread. A stop() that reached an idle player (nothing was running to stop) does not cancel the
// next play.
void FFmpegThread::play()
{
    if (!isRunning())
        stopped = false;
    openPending = true;
    paused = false;
}

void FFmpegThread::pause()
{
    paused = true;
    qDebug() << "pause " << paused.load();
}

void FFmpegThread::next()
{
    paused = false;
    audioSync->reset();
    videoSync->reset();
}

void FFmpegThread::stop()
{
    stopped = true;
}

void FFmpegThread::snap()
{
    if (!callback)
        snapPending = true;
}
