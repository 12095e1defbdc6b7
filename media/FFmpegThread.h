#pragma once

#include "media/AvPointers.h"
#include "media/CaptureInputResolver.h"
#include "media/ImagePool.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMutex>
#include <QString>
#include <QThread>

#include <atomic>
#include <vector>

class FFmpegSync;
class QAudioOutput;
class QIODevice;
class QTimer;

// The media player: run() opens one input, decodes it and hands out images and signals.
//
// Threads: the object lives on the thread that created it (the main thread); its slots and setters run
// there. run() and everything it calls run on the player thread. The control flags are the only
// hand-over between the two and are atomic; other settings are read by the player thread without a
// lock, so change them while the thread is idle.
class FFmpegThread : public QThread
{
    Q_OBJECT

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

    // Library registration, once per process.
    static void initLib();
    // av_strerror text of an FFmpeg error code.
    static QString errorText(int errorCode);
    // TCP reachability of a stream's host; runs a local event loop on the calling thread.
    static bool checkConnect(const QString &url, int timeout);
    // Host and port the reachability check connects to: the first dotted IPv4 address in the URL (else
    // the whole URL, which fails), and the port after the address (after user:password@ when the URL
    // has one), 554 when the URL names none. Any thread.
    struct ConnectTarget
    {
        QString host;
        quint16 port = 554;
    };
    static ConnectTarget connectTarget(const QString &url);
    // Clockwise rotation in whole degrees [0, 360) that a video stream asks for: its display matrix,
    // else its "rotate" tag. Any thread.
    static int streamRotation(const AVStream *stream);
    // The input's interrupt callback; opaque is the player. 1 aborts the blocking call in progress.
    static int AVInterruptCallBackFun(void *opaque);

    // Decode steps, shared by the play loop and the packet-queue threads (player or queue thread).
    void decodeVideo(AVPacket *packet);
    void decodeAudio(AVPacket *packet);

protected:
    void run() override;

    bool init();
    void initOption();
    bool initInput();
    bool initVideo();
    bool initHardware();
    bool initQsv();
    bool initAudio();
    void initAudioOutput(int sampleRate, int sampleSize, int channelCount);
    void initData();
    void readCover();
    int decodeHardware(AVCodecContext *context, AVPacket *pkt, AVFrame *hw, AVFrame *sw);
    void handleFrame(AVPacket *pkt);
    void handleAudio(AVPacket *pkt);
    void freeAll();

    // Player thread. Releases every FFmpeg object of the open input (the first half of freeAll).
    void releaseInput();
    // Player thread. A failed read: counts network errors, reports missing frames, ends or loops a
    // file. False when the loop must end.
    bool handleReadFailure();
    // Player thread. Hands out the frames the video decoder still holds (end of input).
    void drainVideo();
    // Player thread. Back to the start of a looping file; false when the input cannot seek.
    bool seekToStart();
    // Player thread. Converts videoFrame into an image of the pool (turned by rotate); null on failure.
    const QImage *convertFrame();

    // --- control flags: written by slots on the caller's thread, polled by the player thread
    std::atomic<bool> stopped{false};
    std::atomic<bool> openPending{false};
    std::atomic<bool> paused{false};
    std::atomic<bool> snapPending{false};
    std::atomic<bool> isNetwork{false};
    std::atomic<bool> isDevice{false};
    std::atomic<bool> saveSwitching{false};
    std::atomic<bool> openFinished{false};
    std::atomic<bool> readFinished{false};

    // --- settings
    QString url;
    QString hardware;
    QString transport;
    ImageFlag imageFlag;
    std::atomic<bool> callback{true};
    std::atomic<int> interval{1};
    double videoFps;
    int sleepTime;
    int readTime;
    int checkTime;
    bool checkConn;
    bool playRepeat;
    bool playAudio;
    bool multiMode;
    int videoWidth;
    int videoHeight;
    bool saveFile;
    int saveInterval;
    QString savePath;
    QString fileFlag;
    QString fileName;
    QDateTime saveTime;
    bool saveMp4;

    // --- state of the open step and the play loop
    QMutex mutex;
    QDateTime lastTime;
    qint64 startTime = 0;
    int errorCount;
    std::atomic<int> frameCount{0};
    int lastResult;
    int frameRate;
    int rotate;
    int videoIndex;
    int audioIndex;
    qint64 videoStartTime = 0;
    qint64 audioStartTime = 0;
    qint64 duration;
    QString formatName;
    qint64 position;
    QElapsedTimer noFrameTime;
    qint64 saveFrameIndex;
    bool saveOpen;
    bool useSync;
    bool audioStarted;

    // --- owned FFmpeg and Qt objects; freeAll() releases them
    av::DictionaryPtr options;
    av::InputContextPtr formatCtx;
    av::PacketPtr packet;
    av::FramePtr videoFrame;
    av::FramePtr hwFrame;
    av::FramePtr rgbFrame;
    av::FramePtr audioFrame;
    const AVCodec *videoCodec = nullptr;
    const AVCodec *audioCodec = nullptr;
    av::CodecContextPtr videoCodecCtx;
    av::CodecContextPtr audioCodecCtx;
    av::BufferRefPtr hwDeviceRef;
    av::SwsContextPtr swsCtx;
    av::BytesPtr imageBuffer;
    av::SwrContextPtr swrCtx;
    av::BytesPtr audioBuffer;
    QAudioOutput *audioOutput = nullptr;
    QIODevice *audioDevice = nullptr;
    av::OutputContextPtr outputCtx;
    QFile videoFile;
    QFile audioFile;
    QTimer *saveTimer = nullptr;
    // --- conversion targets: emitted images come from the pool; a turned picture is scaled into
    // rotateSource first (player thread only)
    ImagePool imagePool;
    QImage rotateSource;
    QImage freeRotation;
    int outputWidth = 0;
    int outputHeight = 0;
    bool softwareDecode = true;
    bool frameDecoded = false;
    // Where capture-device URLs lead; tests point it at a directory of their own.
    CaptureInputResolver captureResolver;
    QTimer *positionTimer = nullptr;
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

public slots:
    void initSaveFileName();
    void initSave();
    void startSave();
    void stopSave();
    void saveVideo();
    void saveVideoMp4(const QString &fileName);
    void saveVideoH264(const QString &fileName);
    void closeVideo();
    void closeVideoMp4();
    void closeVideoH264();

    void setPosition();
    void setPosition(qlonglong position);

    void setInterval(int interval);
    void setVideoFps(double videoFps);
    void setSleepTime(int sleepTime);
    void setReadTime(int readTime);
    void setCheckTime(int checkTime);
    void setCheckConn(bool checkConn);
    void setPlayRepeat(bool playRepeat);
    void setPlayAudio(bool playAudio);
    void setSaveMp4(bool saveMp4);
    void setCallback(bool callback);
    void setSaveFile(bool saveFile);
    void setMultiMode(bool multiMode, int videoWidth, int videoHeight);
    void setUrl(const QString &url);
    void setHardware(const QString &hardware);
    void setTransport(const QString &transport);
    void setSavePath(const QString &savePath);
    void setFileFlag(const QString &fileFlag);
    void setFileName(const QString &fileName);
    void setImageFlag(FFmpegThread::ImageFlag imageFlag);
    void setOption(const char *key, const char *value);
    void setSaveInterval(int saveInterval);
    void setSaveTime(const QDateTime &saveTime);

    void play();
    void pause();
    void next();
    void stop();
    void snap();
};
