#include "media/FFmpegThread.h"

#include "media/FFmpegSync.h"
#include "media/LogTime.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/error.h>
#include <libavutil/time.h>
}

#include <QDebug>
#include <QMutexLocker>
#include <QTimer>

namespace {
QMutex libMutex;
bool libInitialised = false;
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
    saveTime = QDateTime::fromString(QStringLiteral("1970-01-01 00:00:00"), QStringLiteral("yyyy-MM-dd HH:mm:ss"));

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
    qDebug() << TIMEMS << "init ffmpeg lib ok" << " version:" << av_version_info();
}

QString FFmpegThread::errorText(int errorCode)
{
    char buffer[256] = {0};
    av_strerror(errorCode, buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

bool FFmpegThread::checkConnect(const QString &, int)
{
    return false;
}

int FFmpegThread::AVInterruptCallBackFun(void *opaque)
{
    auto *player = static_cast<FFmpegThread *>(opaque);
    return player->stopped ? 1 : 0;
}

void FFmpegThread::run()
{
    startTime = av_gettime();
    // Nothing is read before an input is open: until play() asks for one, idle until stopped.
    while (!stopped) {
        msleep(1);
    }
    freeAll();
}

bool FFmpegThread::init() { return false; }
void FFmpegThread::initOption() {}
bool FFmpegThread::initInput() { return false; }
bool FFmpegThread::initVideo() { return false; }
bool FFmpegThread::initHardware() { return false; }
bool FFmpegThread::initQsv() { return false; }
bool FFmpegThread::initAudio() { return false; }
void FFmpegThread::initAudioOutput(int, int, int) {}
void FFmpegThread::initData() {}
void FFmpegThread::readCover() {}
int FFmpegThread::decodeHardware(AVCodecContext *, AVPacket *, AVFrame *, AVFrame *) { return -1; }
void FFmpegThread::handleFrame(AVPacket *) {}
void FFmpegThread::handleAudio(AVPacket *) {}
void FFmpegThread::decodeVideo(AVPacket *) {}
void FFmpegThread::decodeAudio(AVPacket *) {}

void FFmpegThread::freeAll()
{
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

void FFmpegThread::setReadTime(int value) { readTime = value; }
void FFmpegThread::setCheckTime(int value) { checkTime = value; }
void FFmpegThread::setCheckConn(bool value) { checkConn = value; }
void FFmpegThread::setPlayRepeat(bool value) { playRepeat = value; }
void FFmpegThread::setPlayAudio(bool value) { playAudio = value; }
void FFmpegThread::setSaveMp4(bool value) { saveMp4 = value; }
void FFmpegThread::setCallback(bool value) { callback = value; }
void FFmpegThread::setSaveFile(bool value) { saveFile = value; }

void FFmpegThread::setMultiMode(bool multi, int width, int height)
{
    multiMode = multi;
    videoWidth = width;
    videoHeight = height;
}

void FFmpegThread::setUrl(const QString &value)
{
    url = value;
}

void FFmpegThread::setHardware(const QString &value) { hardware = value; }
void FFmpegThread::setTransport(const QString &value) { transport = value; }
void FFmpegThread::setSavePath(const QString &value) { savePath = value; }
void FFmpegThread::setFileFlag(const QString &value) { fileFlag = value; }
void FFmpegThread::setFileName(const QString &value) { fileName = value; }
void FFmpegThread::setImageFlag(FFmpegThread::ImageFlag value) { imageFlag = value; }

void FFmpegThread::setOption(const char *key, const char *value)
{
    av_dict_set(av::out(options), key, value, 0);
}

void FFmpegThread::setSaveInterval(int value) { saveInterval = value; }
void FFmpegThread::setSaveTime(const QDateTime &value) { saveTime = value; }

// --- control
void FFmpegThread::play()
{
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

void FFmpegThread::stop() { stopped = true; }

void FFmpegThread::snap()
{
    if (!callback)
        snapPending = true;
}
