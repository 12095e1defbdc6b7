#pragma once

#include "media/AudioOutput.h"
#include "media/AudioResampler.h"
#include "media/AvPointers.h"
#include "media/CaptureInputResolver.h"
#include "media/FrameTap.h"
#include "media/MediaLog.h"
#include "media/MediaUrl.h"
#include "media/PlaybackInput.h"
#include "media/PlayerSettings.h"
#include "media/Recorder.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <vector>

class FFmpegSync;

// The media player: run() opens one input, decodes it and hands out images and signals. The work is
// done by its parts: the URL rules (MediaUrl), the open input (InputSession), the video decoder
// (VideoDecoder) and the conversion to images (FrameConverter).
//
// Threads: the object lives on the thread that created it (the main thread); its slots and setters run
// there, or on any thread. run() and everything it calls run on the player thread.
// - The control flags (play, pause, stop, snap) are atomic and act at the loop's next iteration.
// - The settings are written under settingsMutex; each open takes one snapshot of them, so a setter
//   called during playback acts on the next open. Only interval and callback act live (atomic).
class FFmpegThread : public QThread
{
    Q_OBJECT
    friend class FFmpegSync;

public:
    // int-sized: any int may be stored (values outside the list scale like ImageFlag_FastBilinear).
    enum ImageFlag : int
    {
        ImageFlag_FastBilinear = 0,
        ImageFlag_Bicubic = 1,
        ImageFlag_Bilinear = 2,
        ImageFlag_Immediate = 3,
    };
    Q_ENUM(ImageFlag)

    explicit FFmpegThread(QObject *parent = nullptr);
    ~FFmpegThread() override;

    // Library registration, once per process. True for the call that registered them.
    static bool initLib();
    // av_strerror text of an FFmpeg error code.
    static QString errorText(int errorCode) { return media::errorText(errorCode); }
    // TCP reachability of a stream's host; runs a local event loop on the calling thread.
    static bool checkConnect(const QString &url, int timeout) { return MediaUrl::checkConnect(url, timeout); }
    using ConnectTarget = MediaUrl::ConnectTarget;
    static ConnectTarget connectTarget(const QString &url) { return MediaUrl::connectTarget(url); }
    // Clockwise rotation in whole degrees [0, 360) that a video stream asks for. Any thread.
    static int streamRotation(const AVStream *stream) { return FrameConverter::streamRotation(stream); }
    // Scaler flag of an image flag.
    static int swsFlagsFor(ImageFlag flag) { return PlaybackInput::swsFlags(flag); }
    // The interrupt callback of the player's open input; opaque is the player. 1 aborts the blocking
    // call in progress.
    static int AVInterruptCallBackFun(void *opaque)
    {
        return InputSession::interruptCallback(&static_cast<FFmpegThread *>(opaque)->source.session);
    }

    // Any thread: a copy of the settings the next open will take.
    PlayerSettings currentSettings() const;
    // Any thread: why the last open failed (receivePlayError), in a few words; empty when no reason is
    // known.
    QString openFailure() const;
    // Any thread: the input opened last has a picture to decode.
    bool hasVideo() const { return videoOpened; }
    // Any thread: the input opened last has a sound stream.
    bool hasAudio() const { return audioOpened; }

    // Decode steps, shared by the play loop and the packet-queue threads (player or queue thread).
    void decodeVideo(AVPacket *packet);
    void decodeAudio(AVPacket *packet);

protected:
    void run() override;

    // Player thread. The open step: takes the snapshot of the settings and opens the input with it.
    bool init();
    bool initAudio();
    void initAudioOutput(int sampleRate, int sampleSize, int channelCount);
    // Any thread: one setting, under the settings lock.
    template <class T, class V> void store(T PlayerSettings::*member, const V &value)
    {
        QMutexLocker locker(&settingsMutex);
        settings.*member = value;
    }
    // The slice timer's interval for slices of that many seconds: counted in 64 bits and held to what a
    // QTimer takes (INT_MAX ms, some 24.8 days), so a long slice is never an overflow that turns slicing off.
    static int saveTimerInterval(int seconds);
    // Settings the open decided that later opens keep.
    void keepOpenDecisions(const PlayerSettings &taken);
    // Player thread, after an open: hands the input's streams and the recording settings to the recorder.

    // Player thread. A video packet: rebased, then decoded (or queued in sync mode).
    void handleVideo(AVPacket *pkt);
    // Player thread. Holds a file without sound until its video packet is due (paceVideo).
    void paceVideoPacket(const AVPacket *pkt);
    // Player thread. Everything after decoding one frame: interval, snapshot, conversion, delivery.
    void handleFrame(AVFrame *frame);
    void handleAudio(AVPacket *pkt);
    // Player thread. A failed read: counts network errors, reports missing frames, ends or loops a
    // file. False when the loop must end.
    bool handleReadFailure();
    // Player thread. Back to the start of a looping file; false when the input cannot seek.
    bool seekToStart();
    // Player thread. Releases every FFmpeg object of the open input (the first half of freeAll).
    void releaseInput();
    void freeAll();
    // Player thread. Counts a frame that found no free image, and logs the count at most once a second;
    // flush logs what is still uncounted.
    void countDropped(bool flush = false);

    // --- control flags: written by slots on any thread, polled by the player thread
    std::atomic<bool> stopped{false};
    std::atomic<bool> openPending{false};
    std::atomic<bool> paused{false};
    std::atomic<bool> snapPending{false};
    std::atomic<bool> saveSwitching{false};

    // --- live settings
    std::atomic<bool> callback{true};
    std::atomic<int> interval{1};
    std::atomic<int> frameCount{0};

    // --- settings: written by the setters under settingsMutex, taken as `active` by each open
    mutable QMutex settingsMutex;
    PlayerSettings settings;
    av::DictionaryPtr options;
    QString failureText;

    // --- player thread: the snapshot of the open input and the state of the loop
    PlayerSettings active;
    av::DictionaryPtr openOptions;
    qint64 startTime = 0;
    int errorCount = 0;
    std::atomic<int> lastResult{0};
    qint64 position = 0;
    QElapsedTimer noFrameTime;
    bool useSync = false;
    // Sync mode for the next opens (packets decoded by the queue threads); off in the product, set by tests.
    bool syncMode = false;
    std::atomic<bool> audioStarted{false};
    int droppedFrames = 0;
    QElapsedTimer droppedLog;
    // The first video timestamp (µs) since the open or the last loop: where pacing a file starts.
    qint64 paceOrigin = AV_NOPTS_VALUE;
    // The open input has a video stream that is decoded (any thread).
    std::atomic<bool> videoOpened{false};
    std::atomic<bool> audioOpened{false};

    // --- the parts, and what the player owns beside them; freeAll() releases them
    PlaybackInput source;
    VideoDecoder::FrameSink frameSink;
    av::PacketPtr packet;
    av::FramePtr audioFrame;
    AudioDecoder::FrameSink audioSink;
    AudioResampler::Sink pcmSink;
    AudioResampler resampler;
    AudioOutput audioOutput;
    // The recording: its files, its muxer and its lock (any thread).
    Recorder recorder;
    QTimer *saveTimer = nullptr;
    QTimer *positionTimer = nullptr;
    // The taps, called on the player thread under tapMutex; tapFacts is filled at each open.
    QMutex tapMutex;
    std::vector<FrameTap *> taps;
    FrameTap::Facts tapFacts;
    AVRational tapTimeBase{1, AV_TIME_BASE};
    // Where capture-device URLs lead; tests point it at a directory of their own.
    CaptureInputResolver captureResolver;
    FFmpegSync *audioSync = nullptr;
    FFmpegSync *videoSync = nullptr;

signals:
    void receivePlayStart();
    void receivePlayError();
    void receivePlayFinsh();
    void snapImage(const QImage &image);
    void receiveImage(const QImage &image);
    void receiveFrame(AVFrame *frame);
    void fileLengthReceive(qlonglong length);
    void filePositionReceive(qlonglong position);
    void fileVolumeReceive(int volume, bool muted);
    void sigUVCNoFrame();
    // A recording file was closed.
    void saveFileReceive(const QString &fileName);
    // The recording stopped because a write failed (Recorder::recordFailed): error is the FFmpeg error
    // code, AVERROR(ENOSPC) for a full disk; reason names the file and the error. No further file is
    // opened until the next open; the files it closed follow as saveFileReceive.
    void saveErrorReceive(int error, const QString &reason);

public slots:
    // Recording, from any thread; the recorder locks around each step (see Recorder).
    // A new file name under today's directory.
    void initSaveFileName() { store(&PlayerSettings::fileName, recorder.nextFileName()); }
    // The recording of an input that just opened: its first file, and the slice timer when it slices.
    void initSave()
    {
        if (!recorder.enabled())
            return;
        if (recorder.saveInterval() > 0) {
            initSaveFileName();
            QMetaObject::invokeMethod(this, "startSave", Qt::QueuedConnection);
        }
        if (recorder.saveMp4())
            saveVideoMp4(recorder.fileName());
        else
            saveVideoH264(recorder.fileName());
    }
    void startSave() { saveTimer->start(saveTimerInterval(recorder.saveInterval())); }
    void stopSave()
    {
        closeVideo();
        if (saveTimer->isActive())
            saveTimer->stop();
    }
    // The next slice (the slice timer).
    void saveVideo()
    {
        saveSwitching = true;
        recorder.switchSlice();
        store(&PlayerSettings::fileName, recorder.fileName());
        saveSwitching = false;
    }
    void saveVideoMp4(const QString &fileName) { recorder.openMp4(fileName); }
    void saveVideoH264(const QString &fileName) { recorder.openRaw(fileName); }
    void closeVideo() { recorder.close(); }
    void closeVideoMp4() { recorder.closeMp4(); }
    void closeVideoH264() { recorder.closeRaw(); }

    void setPosition() {}
    void setPosition(qlonglong) {}

    // Setters, from any thread. What they store acts on the next open; interval and callback at once.
    void setInterval(int value)
    {
        if (value > 0) {
            interval = value;
            frameCount = 0;
        }
    }
    void setCallback(bool value) { callback = value; }
    void setUrl(const QString &url);
    void setOption(const char *key, const char *value);
    void setVideoFps(double value)
    {
        if (value > 0)
            store(&PlayerSettings::videoFps, value);
    }
    void setSleepTime(int value)
    {
        if (value > 0)
            store(&PlayerSettings::sleepTime, value);
    }
    void setReadTime(int value) { store(&PlayerSettings::readTime, value); }
    void setCheckTime(int value) { store(&PlayerSettings::checkTime, value); }
    void setCheckConn(bool value) { store(&PlayerSettings::checkConn, value); }
    void setPlayRepeat(bool value) { store(&PlayerSettings::playRepeat, value); }
    void setPlayAudio(bool value) { store(&PlayerSettings::playAudio, value); }
    void setPaceVideo(bool value) { store(&PlayerSettings::paceVideo, value); }
    void setSaveMp4(bool value) { store(&PlayerSettings::saveMp4, value); }
    void setSaveFile(bool value) { store(&PlayerSettings::saveFile, value); }
    void setMultiMode(bool multiMode, int videoWidth, int videoHeight)
    {
        QMutexLocker locker(&settingsMutex);
        settings.multiMode = multiMode;
        settings.videoWidth = videoWidth;
        settings.videoHeight = videoHeight;
    }
    void setHardware(const QString &value) { store(&PlayerSettings::hardware, value); }
    void setTransport(const QString &value) { store(&PlayerSettings::transport, value); }
    void setSavePath(const QString &value) { store(&PlayerSettings::savePath, value); }
    void setFileFlag(const QString &value) { store(&PlayerSettings::fileFlag, value); }
    void setFileName(const QString &value) { store(&PlayerSettings::fileName, value); }
    void setImageFlag(FFmpegThread::ImageFlag value) { store(&PlayerSettings::imageFlag, int(value)); }
    void setSaveInterval(int value) { store(&PlayerSettings::saveInterval, value); }
    void setSaveTime(const QDateTime &value) { store(&PlayerSettings::saveTime, value); }

    // Control, from any thread. A stop() that reached an idle player (nothing was running to stop) does
    // not cancel the next play.
    void play()
    {
        if (!isRunning())
            stopped = false;
        openPending = true;
        paused = false;
    }
    void pause()
    {
        paused = true;
        qCDebug(lcMedia) << "pause " << paused.load();
    }
    void next();
    void stop() { stopped = true; }
    // Frame taps, from any thread. After removeFrameTap returns, the tap is not called again and no call
    // to it is still running.
    void addFrameTap(FrameTap *tap);
    void removeFrameTap(FrameTap *tap);

    void snap()
    {
        if (!callback)
            snapPending = true;
    }
};
