#include "camera/MainControl.h"

#include "capture/CameraName.h"

#include "app/AppGlobals.h"
#include "camera/CameraDeviceList.h"
#include "camera/CameraLog.h"
#include "camera/SyncTaskOne.h"
#include "camera/UVCCameraSDK.h"
#include "media/FFmpegThread.h"
#include "presentation/FameProvider.h"

#include <QDebug>
#include <QMutexLocker>
#include <QtConcurrent>
#include <QThread>
#include <QTimer>

#include <cmath>

namespace {
// Pool thread: queue a call of method on the current controller, if there still is one. Under
// mainControlMutex, so a controller that is being destroyed never receives it.
void postToController(const char *method)
{
    QMutexLocker locker(&mainControlMutex);
    if (MainControl *control = mainControl.load())
        QMetaObject::invokeMethod(control, method, Qt::QueuedConnection);
}

// Pool thread: open the camera and hand the session back to the main thread.
void startOpenUVC()
{
    qCDebug(lcCamera) << "slot Start Open UVC";
    if (UVC_CAMERA_OpenUVC()) {
        qCDebug(lcCamera) << "Open UVC OK And Ready Start Capture";
        postToController("startCapture");
        postToController("slotSyncDevice");
    } else {
        qCDebug(lcCamera) << "Open UVC Failure and ready search";
        postToController("slotStartUVCConnect");
    }
}
} // namespace

MainControl::MainControl(QObject *parent) : QObject(parent)
{
    qCDebug(lcCamera) << "UVC_CAMERA_GetSDKVersion: " << UVC_CAMERA_GetSDKVersion();
    qCDebug(lcCamera) << "MainControl: currentThreadId:" << QThread::currentThreadId();

    syncTask = new SyncTaskOne;
    UVC_CAMERA_SelectUVCCamera(uvcCameraName.c_str());

    // The provider's signals are the thread-safe way into its slots; wire them once per process.
    connect(frameProvider, SIGNAL(newFormat(int, int)), frameProvider, SLOT(setFormat(int, int)),
            Qt::UniqueConnection);
    connect(frameProvider, SIGNAL(newFrameAvailable(QVideoFrame)), frameProvider,
            SLOT(onNewVideoContentReceived(QVideoFrame)), Qt::UniqueConnection);

    // The player emits on its own thread: these arrive queued on the main thread.
    connect(ffmpegThread, SIGNAL(receivePlayStart()), this, SLOT(playStart()));
    connect(ffmpegThread, SIGNAL(receivePlayFinsh()), this, SLOT(playFinsh()));
    connect(ffmpegThread, SIGNAL(receivePlayError()), this, SLOT(PlayError()));
    connect(ffmpegThread, SIGNAL(snapImage(QImage)), this, SLOT(snapImage(QImage)));
    connect(ffmpegThread, SIGNAL(receiveImage(QImage)), this, SLOT(updateImage(QImage)));

    searchTimer = new QTimer(this);
    searchTimer->setInterval(1000);
    connect(searchTimer, SIGNAL(timeout()), this, SLOT(slotSearchDevice()));

    checkFrameTimer = new QTimer(this);
    checkFrameTimer->setInterval(1000);
    connect(checkFrameTimer, SIGNAL(timeout()), this, SLOT(slotCheckFrame()));

    syncTimer = new QTimer(this);
    connect(syncTimer, SIGNAL(timeout()), this, SLOT(slotSyncDevice()));

    noFrameCount = 0;
}

MainControl::~MainControl()
{
    searchTimer->stop();
    checkFrameTimer->stop();

    // Pool work still running must not reach this controller: clear the pointer it posts to, then wait
    // for the open worker and the refresh runs before the task object goes.
    {
        QMutexLocker locker(&mainControlMutex);
        MainControl *self = this;
        mainControl.compare_exchange_strong(self, nullptr);
    }
    openFuture.waitForFinished();
    syncTask->cancelAndWait();
    delete syncTask;
    // An open that finished after the session went (the worker was inside it when the window closed)
    // leaves the camera open with no capture on it and nobody left to close it.
    if (!ffmpegThread->isRunning())
        UVC_CAMERA_CloseUVC();
}

void MainControl::slotStartUVCConnect()
{
    {
        QMutexLocker locker(&mainControlMutex);
        MainControl *none = nullptr;
        mainControl.compare_exchange_strong(none, this);
    }
    searchTimer->start(1000);
}

void MainControl::slotSearchDevice()
{
    bool found = false;
    const QList<CameraDevice> devices = listCameraDevices();
    for (const CameraDevice &device : devices) {
        qCDebug(lcCamera) << "deviceName:" << device.deviceName;
        qCDebug(lcCamera) << "description:" << device.description;
        qCDebug(lcCamera) << "position:" << device.position;
        if (CameraName::matches(device.description, uvcCameraDescription))
            found = true;
    }

    if (found) {
        searchTimer->stop();
        openFuture = QtConcurrent::run(startOpenUVC);
    }
}

void MainControl::startCapture()
{
    if (!UVC_CAMERA_UVCIsOpen() || ffmpegThread->isRunning())
        return;

    frameProvider->setFormat(UVC_CAMERA_GetWidth(), UVC_CAMERA_GetHeight());

    const QString url = QStringLiteral("video=%1|%2x%3")
                            .arg(QString::fromUtf8(UVC_CAMERA_GetFriendlyName()))
                            .arg(UVC_CAMERA_GetWidth())
                            .arg(UVC_CAMERA_GetHeight());
    qCDebug(lcCamera) << "seturl " << url;

    noFrameCount = 0;
    ffmpegThread->setUrl(url);
    ffmpegThread->play();
    ffmpegThread->start();

    checkFrameTimer->start(1000);
    syncTimer->start(2000);
}

void MainControl::stopCapture()
{
    qCDebug(lcCamera) << "Ready stop Capture";
    checkFrameTimer->stop();
    syncTimer->stop();
    if (ffmpegThread->isRunning()) {
        ffmpegThread->stop();
        ffmpegThread->quit();
        ffmpegThread->wait();
    }
    qCDebug(lcCamera) << "Finish stop Capture";
}

void MainControl::slotEndUVCConnect()
{
    qCDebug(lcCamera) << "slot End UVC Connect";
    stopCapture();
    UVC_CAMERA_CloseUVC();
}

void MainControl::slotCheckFrame()
{
    noFrameCount++;
    if (noFrameCount <= 3)
        return;

    qCDebug(lcCamera) << "NO FRAME And Ready Reopn......................";
    slotEndUVCConnect();
    QTimer::singleShot(100, this, SLOT(slotStartUVCConnect()));
}

void MainControl::updateImage(const QImage &image)
{
    noFrameCount = 0;
    frameProvider->presentImage(image);
}

void MainControl::playStart() {}
void MainControl::playFinsh() {}
void MainControl::PlayError() {}
void MainControl::snapImage(const QImage &) {}

void MainControl::sendCommand(int (*send)(int), int value, const std::function<void()> &repeat)
{
    if (!UVC_CAMERA_UVCIsOpen())
        return;

    if (syncMutex.tryLock()) {
        send(value);
        syncMutex.unlock();
        syncTimer->stop();
        syncTimer->start(2000);
    } else {
        qCDebug(lcCamera) << "[Sync Protect] ready repeat ....";
        QTimer::singleShot(500, this, repeat);
    }
}

void MainControl::slotRecord()
{
    qCDebug(lcCamera) << "slot Record";
    sendCommand(UVC_CAMERA_SetContrast, 0, [this] { slotRecord(); });
}

void MainControl::slotPalette()
{
    qCDebug(lcCamera) << "slot Palette";
    sendCommand(UVC_CAMERA_SetContrast, 5, [this] { slotPalette(); });
}

void MainControl::slotTrack()
{
    qCDebug(lcCamera) << "slot Track";
    sendCommand(UVC_CAMERA_SetContrast, 2, [this] { slotTrack(); });
}

void MainControl::slotFFC()
{
    qCDebug(lcCamera) << "slot FFC";
    sendCommand(UVC_CAMERA_SetContrast, 4, [this] { slotFFC(); });
}

void MainControl::slotZoom(double value)
{
    // The zoom factor travels in tenths, rounded to the nearest, exact halves upward.
    const int tenths = static_cast<int>(std::floor(value * 10.0 + 0.5));
    sendCommand(UVC_CAMERA_SetSaturation, tenths, [this, value] { slotZoom(value); });
}

void MainControl::slotSyncDevice()
{
    if (UVC_CAMERA_UVCIsOpen())
        syncTask->startOnPool();
}
