#include "media/FFmpegThread.h"

#include "media/FFmpegLog.h"

#include "media/FFmpegSync.h"
#include "media/LogTime.h"
#include "media/MediaLog.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/time.h>
}

#include <QMutexLocker>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {
QMutex libMutex;
bool libInitialised = false;

// Start times above this many stream time-base units are taken off the packets' timestamps.
constexpr qint64 kRebaseAbove = 1000000;
// Packets each sync queue may hold before the loop stops reading.
constexpr int kQueueCap = 100;
} // namespace

FFmpegThread::FFmpegThread(QObject *parent) : QThread(parent), source(stopped)
{
    setObjectName(QStringLiteral("FFmpegThread"));
    settings.fileName =
        QStringLiteral("%1/%2_%3.mp4")
            .arg(settings.savePath, settings.fileFlag,
                 QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HH-mm-ss")));
    settings.saveTime = Recorder::noSaveTime();

    saveTimer = new QTimer(this);
    saveTimer->setInterval(60000);
    connect(saveTimer, SIGNAL(timeout()), this, SLOT(saveVideo()));
    connect(&recorder, &Recorder::fileClosed, this, &FFmpegThread::saveFileReceive, Qt::DirectConnection);
    // A failed recording makes no more slices: the timer is stopped on its own thread.
    connect(
        &recorder, &Recorder::recordFailed, this,
        [this](int error, const QString &reason) {
            QMetaObject::invokeMethod(this, "stopSave", Qt::QueuedConnection);
            emit saveErrorReceive(error, reason);
        },
        Qt::DirectConnection);

    initLib();

    audioSync = new FFmpegSync(FFmpegSync::Audio, this);
    videoSync = new FFmpegSync(FFmpegSync::Video, this);

    positionTimer = new QTimer(this);
    positionTimer->setInterval(100);
    connect(positionTimer, SIGNAL(timeout()), this, SLOT(setPosition()));

    // Made once: the per-frame path calls it without allocating.
    frameSink = [this](AVFrame *frame) {
        handleFrame(frame);
    };
    audioSink = [this](AVFrame *frame) {
        resampler.convert(frame, pcmSink);
    };
    pcmSink = [this](const char *data, int bytes) {
        audioOutput.write(data, bytes);
    };
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

bool FFmpegThread::initLib()
{
    QMutexLocker locker(&libMutex);
    if (libInitialised)
        return false;
    avdevice_register_all();
    avformat_network_init();
    FFmpegLog::install();
    libInitialised = true;
    qCDebug(lcMedia) << TIMEMS << "init ffmpeg lib ok"
                     << " version:" << av_version_info();
    return true;
}

QString FFmpegThread::openFailure() const
{
    QMutexLocker locker(&settingsMutex);
    return failureText;
}

int FFmpegThread::saveTimerInterval(int seconds)
{
    const qint64 ms = qint64(seconds) * 1000;
    return int(qBound<qint64>(1, ms, std::numeric_limits<int>::max()));
}

PlayerSettings FFmpegThread::currentSettings() const
{
    QMutexLocker locker(&settingsMutex);
    return settings;
}

void FFmpegThread::run()
{
    startTime = av_gettime_relative();
    while (!stopped) {
        // Taken, not read then cleared: a play() that arrives during the open asks for another one.
        if (openPending.exchange(false)) {
            // A new play() during playback: the input that is open goes first.
            releaseInput();
            if (!init()) {
                {
                    QMutexLocker locker(&settingsMutex);
                    failureText = source.failure();
                }
                emit receivePlayError();
                break;
            }
            initSave();
            emit receivePlayStart();
            continue;
        }

        if (!source.isOpen()) {
            // Nothing is read before an input is open: idle until play() asks for one.
        } else if (paused) {
            source.session.keepAlive();
        } else if (videoSync->packetCount() >= kQueueCap || audioSync->packetCount() >= kQueueCap) {
            // The queues are full: read nothing.
        } else {
            lastResult = source.session.read(packet.get());
            if (lastResult >= 0) {
                errorCount = 0;
                if (packet->stream_index == source.videoIndex)
                    handleVideo(packet.get());
                else if (packet->stream_index == source.audioIndex)
                    handleAudio(packet.get());
            } else if (!handleReadFailure()) {
                av_packet_unref(packet.get());
                break;
            }
            av_packet_unref(packet.get());
        }
        msleep(1);
    }

    // Closed here, so a slice switch that comes late finds nothing to switch.
    recorder.detach();
    QMetaObject::invokeMethod(this, "stopSave", Qt::QueuedConnection);
    msleep(100);
    freeAll();
    emit receivePlayFinsh();
    qCDebug(lcMedia) << TIMEMS << active.fileFlag << "stop ffmpeg thread" << active.url;
}

bool FFmpegThread::handleReadFailure()
{
    if (active.isNetwork) {
        ++errorCount;
        qCDebug(lcMedia) << TIMEMS << active.fileFlag << "errorCount" << errorCount << active.url;
        if (errorCount >= 3) {
            errorCount = 0;
            return false;
        }
        return true;
    }

    // No-frame report, at most once a second while reads fail. A non-blocking device answers "try
    // again" between its frames: that counts only once no frame has come for a second.
    const bool idleDevice = lastResult == AVERROR(EAGAIN);
    if (!idleDevice || source.session.msSinceLastPacket() > 1000) {
        if (!noFrameTime.isValid()) {
            noFrameTime.start();
        } else if (noFrameTime.elapsed() > 1000) {
            qCDebug(lcMedia) << "Play Back File End";
            emit sigUVCNoFrame();
            noFrameTime.restart();
        }
    }

    if (lastResult != AVERROR_EOF || videoSync->packetCount() > 0 || audioSync->packetCount() > 0)
        return true;

    // End of input: what the decoder still holds belongs to the file too.
    if (source.videoIndex >= 0 && !useSync)
        decodeVideo(nullptr);
    if (source.audioIndex >= 0 && !useSync) {
        decodeAudio(nullptr);
        audioOutput.drain(stopped);
    }
    if (!active.playRepeat)
        return false;

    position = 0;
    videoSync->reset();
    audioSync->reset();
    if (!videoSync->isRunning())
        videoSync->start(QThread::InheritPriority);
    if (!audioSync->isRunning())
        audioSync->start(QThread::InheritPriority);
    QMetaObject::invokeMethod(this, "setPosition", Qt::QueuedConnection, Q_ARG(qlonglong, position));
    qCDebug(lcMedia) << TIMEMS << active.fileFlag << "repeat" << active.url;
    return seekToStart();
}

bool FFmpegThread::seekToStart()
{
    if (!source.session.seekToStart())
        return false;
    source.video.flush();
    source.audio.flush();
    // Audio pacing starts over with the file.
    startTime = av_gettime_relative();
    paceOrigin = AV_NOPTS_VALUE;
    noFrameTime.invalidate();
    return true;
}

bool FFmpegThread::init()
{
    PlayerSettings taken;
    {
        QMutexLocker locker(&settingsMutex);
        taken = settings;
        openOptions = std::move(options);
    }
    active = taken;
    if (active.url.isEmpty())
        return false;
    if (active.checkConn && active.isNetwork && !checkConnect(active.url, active.checkTime))
        return false;

    QElapsedTimer elapsed;
    elapsed.start();
    // The audio pacing counts from the start of this open.
    startTime = av_gettime_relative();
    callback = true;
    PlaybackInput::Found found;
    const bool opened = source.open(active, openOptions, captureResolver, found);
    keepOpenDecisions(taken);
    if (!opened)
        return false;
    recorder.attach(source, active);
    videoOpened = source.videoIndex >= 0;
    audioOpened = source.audioIndex >= 0;
    paceOrigin = AV_NOPTS_VALUE;
    if (source.videoIndex >= 0) {
        const AVStream *stream = source.session.context()->streams[source.videoIndex];
        QMutexLocker lock(&tapMutex);
        tapTimeBase = stream->time_base;
        tapFacts.frameRate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    }

    packet.reset(av_packet_alloc());
    audioStarted = false;
    if (source.audioIndex >= 0) {
        audioFrame.reset(av_frame_alloc());
        if (active.playAudio && !initAudio())
            return false;
    }
    useSync = syncMode;
    if (source.formatName == QLatin1String("rtsp") || active.url.endsWith(QLatin1String(".sdp")) ||
        active.imageFlag == ImageFlag_Immediate)
        useSync = false;
    if (found.isFile)
        emit fileLengthReceive(found.lengthMs);
    if (!found.cover.isNull())
        emit receiveImage(found.cover);
    qCDebug(lcMedia) << TIMEMS << active.fileFlag
                     << qUtf8Printable(QStringLiteral("Ini Finish -> Time-consuming: %1 sec  Addr: %2")
                                           .arg(double(elapsed.elapsed()) / 1000, 0, 'f', 3)
                                           .arg(active.url));
    if (useSync) {
        videoSync->start(QThread::InheritPriority);
        audioSync->start(QThread::InheritPriority);
    }
    return true;
}

void FFmpegThread::keepOpenDecisions(const PlayerSettings &taken)
{
    QMutexLocker locker(&settingsMutex);
    // Options FFmpeg did not take stay for the next open, under any set since.
    if (openOptions) {
        av_dict_copy(av::out(openOptions), options.get(), 0);
        options = std::move(openOptions);
    }
    settings.keepDecisions(taken, active);
}

// Player thread. The output and the conversion to it; false only when the conversion buffer cannot be
// allocated. Without a usable output the input plays on silently.
bool FFmpegThread::initAudio()
{
    int rate = source.audio.sampleRate();
    initAudioOutput(rate, 2, 2);
    // A rate the output refuses (a studio rate, a broken header) is converted to the output's own.
    const int fallback = AudioOutput::preferredRate();
    if (!audioStarted && fallback > 0 && fallback != rate) {
        rate = fallback;
        initAudioOutput(rate, 2, 2);
    }
    if (audioStarted)
        audioStarted = resampler.open(source.audio.codecContext(), rate);
    if (!audioStarted)
        audioOutput.close();
    return !resampler.allocationFailed();
}

void FFmpegThread::initAudioOutput(int sampleRate, int sampleSize, int channelCount)
{
    audioStarted = audioOutput.open(sampleRate, sampleSize, channelCount);
    if (!audioStarted) {
        qCDebug(lcMedia) << TIMEMS << active.fileFlag
                         << "Raw audio format not supported by backend, cannot play audio.";
        return;
    }
    const int volume = isRunning() ? audioOutput.volumePercent() : 0;
    emit fileVolumeReceive(volume, volume == 0);
}

void FFmpegThread::handleVideo(AVPacket *pkt)
{
    if (source.videoStartTime > kRebaseAbove)
        InputSession::rebase(pkt, source.videoStartTime);
    // Every packet is recorded as read; interval thins only the pictures.
    recorder.writeVideo(pkt);
    if (recorder.takeScheduledStop()) {
        // Closed at this frame; the timer is stopped on its own thread.
        recorder.close();
        store(&PlayerSettings::saveTime, Recorder::noSaveTime());
        QMetaObject::invokeMethod(this, "stopSave", Qt::QueuedConnection);
    }
    if (useSync) {
        videoSync->append(av_packet_clone(pkt));
        return;
    }
    paceVideoPacket(pkt);
    decodeVideo(pkt);
}

void FFmpegThread::paceVideoPacket(const AVPacket *pkt)
{
    if (!active.paceVideo || active.isNetwork || active.isDevice || source.audioIndex >= 0 ||
        active.imageFlag == ImageFlag_Immediate)
        return;
    const qint64 stamp = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
    if (stamp == AV_NOPTS_VALUE)
        return;
    const AVRational timeBase = source.session.context()->streams[source.videoIndex]->time_base;
    const qint64 at = av_rescale_q(stamp, timeBase, AV_TIME_BASE_Q);
    if (paceOrigin == AV_NOPTS_VALUE || at < paceOrigin) {
        paceOrigin = at;
        startTime = av_gettime_relative();
    }
    // A jump of a second or more in the timestamps is not waited for: pacing starts over there.
    const qint64 now = av_gettime_relative();
    const qint64 delay = startTime + (at - paceOrigin) - now;
    if (delay >= 1000000) {
        paceOrigin = at;
        startTime = now;
    } else if (delay > 0) {
        av_usleep(unsigned(delay));
    }
}

// Player thread (or the video queue thread in sync mode). A null packet drains the decoder.
void FFmpegThread::decodeVideo(AVPacket *pkt)
{
    lastResult = source.video.decode(pkt, frameSink);
    // A packet that gave no frame: the decoder waits for more input.
    if (lastResult <= 0 && pkt)
        msleep(1);
}

// Player thread (or the audio queue thread in sync mode). A null packet drains the decoder.
void FFmpegThread::decodeAudio(AVPacket *pkt)
{
    if (!active.playAudio || !audioStarted)
        return;
    const int result = source.audio.decode(pkt, audioFrame.get(), audioSink);
    if (result < 0)
        lastResult = result;
}

void FFmpegThread::handleAudio(AVPacket *pkt)
{
    if (source.audioStartTime > kRebaseAbove)
        InputSession::rebase(pkt, source.audioStartTime);
    recorder.writeAudio(pkt);
    if (useSync) {
        audioSync->append(av_packet_clone(pkt));
        return;
    }
    if (active.playAudio)
        decodeAudio(pkt);

    if (active.imageFlag == ImageFlag_Immediate)
        return;
    const qint64 stamp = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : (pkt->pts != AV_NOPTS_VALUE ? pkt->pts : 0);
    const qint64 due = av_rescale_q(stamp, source.audio.timeBase(), AV_TIME_BASE_Q);
    const qint64 delay = startTime + due - av_gettime_relative();
    if (delay > 0 && delay < 1000000)
        av_usleep(unsigned(delay));
}

void FFmpegThread::handleFrame(AVFrame *frame)
{
    if (++frameCount < interval) {
        msleep(1);
        return;
    }
    frameCount = 0;

    {
        QMutexLocker lock(&tapMutex);
        if (!taps.empty()) {
            const int64_t stamp =
                frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
            tapFacts.captureUs = stamp != AV_NOPTS_VALUE ? av_rescale_q(stamp, tapTimeBase, AV_TIME_BASE_Q)
                                                         : av_gettime_relative();
            for (FrameTap *tap : taps)
                tap->tapFrame(*frame, tapFacts);
        }
    }

    // Taken, not read then cleared: a snap() that arrives meanwhile waits for the next frame.
    const bool snapshot = snapPending.exchange(false);
    if (!snapshot && !callback) {
        emit receiveFrame(frame);
        return;
    }
    const QImage *image = nullptr;
    switch (source.converter.convert(frame, image)) {
    case FrameConverter::Result::Converted:
        break;
    case FrameConverter::Result::Busy:
        countDropped();
        if (snapshot)
            snapPending = true;
        return;
    case FrameConverter::Result::Failed:
        return;
    }
    if (snapshot)
        emit snapImage(*image);
    else
        emit receiveImage(*image);
}

void FFmpegThread::addFrameTap(FrameTap *tap)
{
    QMutexLocker lock(&tapMutex);
    if (std::find(taps.begin(), taps.end(), tap) == taps.end())
        taps.push_back(tap);
}

void FFmpegThread::removeFrameTap(FrameTap *tap)
{
    QMutexLocker lock(&tapMutex);
    taps.erase(std::remove(taps.begin(), taps.end(), tap), taps.end());
}

void FFmpegThread::countDropped(bool flush)
{
    if (!flush)
        ++droppedFrames;
    if (droppedFrames == 0 || (!flush && droppedLog.isValid() && droppedLog.elapsed() < 1000))
        return;
    qCDebug(lcMedia) << TIMEMS << active.fileFlag
                     << "frames dropped, receivers hold every image:" << droppedFrames << active.url;
    droppedFrames = 0;
    droppedLog.start();
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
    recorder.detach();
    // The output is released here, on the thread that made it: this thread runs no event loop.
    audioOutput.close();
    audioStarted = false;
    resampler.close();
    packet.reset();
    audioFrame.reset();
    source.close();
    noFrameTime.invalidate();
}

void FFmpegThread::freeAll()
{
    countDropped(true);
    releaseInput();
    openOptions.reset();
    stopped = false;
    openPending = false;
    paused = false;
    saveSwitching = false;
    useSync = false;
    errorCount = 0;
    frameCount = 0;
    droppedFrames = 0;
    droppedLog.invalidate();
    QMutexLocker locker(&settingsMutex);
    settings.videoWidth = 640;
    settings.videoHeight = 480;
    settings.frameRate = 0;
}

// --- recording: any thread
// --- setters: any thread; what they store acts on the next open
void FFmpegThread::setUrl(const QString &value)
{
    QMutexLocker locker(&settingsMutex);
    MediaUrl::applyUrl(settings, value);
}

void FFmpegThread::setOption(const char *key, const char *value)
{
    QMutexLocker locker(&settingsMutex);
    av_dict_set(av::out(options), key, value, 0);
}

// Any thread.
void FFmpegThread::next()
{
    paused = false;
    audioSync->reset();
    videoSync->reset();
}
