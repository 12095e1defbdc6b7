#include "camera/MainControl.h"

#include "app/AppGlobals.h"
#include "camera/CameraLog.h"
#include "camera/CameraWorker.h"
#include "camera/UVCCameraSDK.h"
#include "media/ClipRecorder.h"
#include "media/FFmpegThread.h"
#include "media/MediaLog.h"
#include "presentation/FameProvider.h"
#include "presentation/OutputFolders.h"
#include "presentation/SnapshotWriter.h"
#include "thermal/ThermalReader.h"

extern "C" {
#include <libavutil/error.h>
}

#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QMetaEnum>
#include <QMutexLocker>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {
QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
} // namespace

MainControl::MainControl(QObject *parent)
    : QObject(parent), worker(new CameraWorker), thermal(new ThermalReader(this))
{
    qCDebug(lcCamera) << "UVC_CAMERA_GetSDKVersion: " << UVC_CAMERA_GetSDKVersion();

    // The camera's own thread: every library call that may wait for the device runs there.
    workerThread.setObjectName(QStringLiteral("tarn-camera"));
    worker->moveToThread(&workerThread);
    worker->setChoice(uvcCameraDescription, uvcCameraDevice, uvcCameraSerial);
    CameraProfile::LayoutOverride layout = CameraProfile::LayoutOverride::Auto;
    CameraProfile::parseOverride(uvcCameraLayout, &layout);
    worker->setLayoutOverride(layout);
    connect(worker, &CameraWorker::opened, this, &MainControl::onOpened);
    connect(worker, &CameraWorker::commandDone, this, &MainControl::onCommandDone);
    connect(worker, &CameraWorker::refreshed, this, &MainControl::onRefreshed);
    workerThread.start();

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
    // Emitted on the player thread, before the player's own image of the same frame: queued here.
    connect(thermal, &ThermalReader::pictureReady, this, &MainControl::presentThermal);

    searchTimer = new QTimer(this);
    searchTimer->setInterval(1000);
    connect(searchTimer, SIGNAL(timeout()), this, SLOT(slotSearchDevice()));

    checkFrameTimer = new QTimer(this);
    checkFrameTimer->setInterval(1000);
    connect(checkFrameTimer, SIGNAL(timeout()), this, SLOT(slotCheckFrame()));

    syncTimer = new QTimer(this);
    connect(syncTimer, SIGNAL(timeout()), this, SLOT(slotSyncDevice()));

    // Fine enough to mark a stopped picture well within half a second of its deadline.
    livenessTimer = new QTimer(this);
    livenessTimer->setInterval(100);
    connect(livenessTimer, &QTimer::timeout, this, &MainControl::checkLiveness);

    // An open that takes a while (a slow camera) is shown as such; a quick one is not worth a flash.
    openingTimer = new QTimer(this);
    openingTimer->setSingleShot(true);
    openingTimer->setInterval(500);
    connect(openingTimer, &QTimer::timeout, this, [this] {
        if (openOutstanding && (state == State::Searching || state == State::Reconnecting))
            enter(State::Opening, QStringLiteral("Opening %1...").arg(wantedCamera()));
    });

    noticeTimer = new QTimer(this);
    noticeTimer->setSingleShot(true);
    connect(noticeTimer, &QTimer::timeout, this, [this] {
        notice.clear();
        emit statusChanged();
    });

    retryTimer = new QTimer(this);
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, [this] {
        if (!sessionActive)
            return;
        searchTimer->start();
        slotSearchDevice();
    });

    snapshots = new SnapshotWriter(this);
    connect(snapshots, &SnapshotWriter::written, this,
            [this](const QString &path, bool ok, const QString &error) {
                if (ok) {
                    qCInfo(lcCamera).noquote() << "snapshot saved:" << path;
                    showNotice(QStringLiteral("Snapshot saved: %1").arg(QDir::toNativeSeparators(path)));
                } else {
                    qCWarning(lcCamera).noquote() << "snapshot not saved:" << path << error;
                    showNotice(QStringLiteral("Snapshot not saved to %1: %2")
                                   .arg(QDir::toNativeSeparators(path), error));
                }
            });
    clipTimer = new QTimer(this);
    clipTimer->setInterval(250);
    connect(clipTimer, &QTimer::timeout, this, &MainControl::clipChanged);
    // The clip sees every frame the player decodes, in the camera's own format; idle, it takes none.
    clip = new ClipRecorder(this);
    ffmpegThread->addFrameTap(clip);
    connect(clip, &ClipRecorder::failed, this, [this](int error, const QString &reason) {
        qCWarning(lcCamera).noquote() << "clip stopped:" << reason;
        // A clip that got no picture makes no file, and no finished() follows.
        if (error == AVERROR(ENODATA)) {
            showNotice(QStringLiteral("No clip saved: %1").arg(reason));
            finishClip();
            return;
        }
        clipFailure = reason;
    });
    connect(clip, &ClipRecorder::finished, this, [this](const QString &file, qint64, qint64 durationMs) {
        qCInfo(lcCamera).noquote() << "clip saved:" << file << durationMs << "ms";
        const QString saved = QStringLiteral("Clip saved: %1 (%2 s)")
                                  .arg(QDir::toNativeSeparators(file))
                                  .arg(durationMs / 1000.0, 0, 'f', 1);
        showNotice(clipFailure.isEmpty() ? saved
                                         : QStringLiteral("Clip stopped: %1. %2").arg(clipFailure, saved));
        clipFailure.clear();
        finishClip();
    });
}

MainControl::~MainControl()
{
    // The snapshot thread may still be saving the reader's temperatures: it ends first.
    delete snapshots;
    snapshots = nullptr;
    sessionActive = false;
    searchTimer->stop();
    retryTimer->stop();
    // Whether or not the window ended the session first: no capture and no open camera outlive it.
    stopCapture();
    disconnect(worker, nullptr, this, nullptr);
    worker->dropCommands();
    QMetaObject::invokeMethod(worker, "close", Qt::BlockingQueuedConnection);
    workerThread.quit();
    workerThread.wait();
    delete worker;
    ffmpegThread->removeFrameTap(clip);
    {
        QMutexLocker locker(&mainControlMutex);
        MainControl *self = this;
        mainControl.compare_exchange_strong(self, nullptr);
    }
}

QString MainControl::statusText() const
{
    if (notice.isEmpty())
        return text;
    return text.isEmpty() ? notice : text + QLatin1Char('\n') + notice;
}

QString MainControl::sessionState() const
{
    return QString::fromLatin1(QMetaEnum::fromType<State>().valueToKey(int(state)));
}

void MainControl::enter(State next, const QString &newText)
{
    const bool changed = next != state;
    state = next;
    text = newText;
    if (changed)
        qCInfo(lcCamera).noquote() << "Camera:"
                                   << sessionState() + (text.isEmpty() ? QString() : ": " + text);
    emit statusChanged();
}

void MainControl::updateText(const QString &newText)
{
    if (newText == text)
        return;
    text = newText;
    emit statusChanged();
}

QString MainControl::wantedCamera() const
{
    if (!uvcCameraDevice.isEmpty())
        return QStringLiteral("the camera at %1").arg(uvcCameraDevice);
    if (!uvcCameraSerial.isEmpty())
        return QStringLiteral("the camera with serial number %1").arg(uvcCameraSerial);
    return QStringLiteral("the camera \"%1\"").arg(uvcCameraDescription);
}

QString MainControl::searchingText() const
{
    QString result = QStringLiteral("Searching for %1...").arg(wantedCamera());
    // The first seconds are the usual wait for a camera being plugged in; after that, say what is there.
    if (sinceSearchStart.isValid() && sinceSearchStart.elapsed() < 3000)
        return result;
    if (lastMiss.found.isEmpty())
        return result + QStringLiteral("\nNo camera is connected.");
    return result +
           QStringLiteral("\nFound instead: %1.\nTo choose one, start the viewer with --camera NAME, "
                          "--device PATH or --serial SN (--list-cameras lists them).")
               .arg(lastMiss.found.join(QStringLiteral(", ")));
}

void MainControl::slotStartUVCConnect()
{
    {
        QMutexLocker locker(&mainControlMutex);
        MainControl *none = nullptr;
        mainControl.compare_exchange_strong(none, this);
    }
    sessionActive = true;
    sinceSearchStart.start();
    if (state == State::Idle)
        enter(State::Searching, searchingText());
    searchTimer->start();
    slotSearchDevice();
}

// Each tick asks the worker for one open of the chosen camera, unless one is under way; the open
// itself looks for the camera.
void MainControl::slotSearchDevice()
{
    if (!sessionActive || openOutstanding || capturing)
        return;
    openOutstanding = true;
    openingTimer->start();
    worker->postOpen();
}

void MainControl::onOpened(const CameraOpenReport &report)
{
    openOutstanding = false;
    openingTimer->stop();
    if (!sessionActive) {
        // The window ended the session while the open was under way: nobody wants the camera now.
        if (report.ok)
            worker->postClose();
        return;
    }
    if (report.ok) {
        searchTimer->stop();
        camera = report;
        lastMiss = CameraOpenReport();
        startCapture();
        return;
    }

    // Once per reason, not on every tick of a search that goes on.
    if (lastMiss.error != report.error || lastMiss.devicePath != report.devicePath)
        qCDebug(lcCamera) << "Open UVC Failure and ready search";
    lastMiss = report;
    switch (report.error) {
    case EACCES:
        enter(State::NoPermission,
              QStringLiteral("No permission to open the camera %1.\nAdd yourself to the video group: "
                             "sudo adduser $USER video, then log out and in again.")
                  .arg(report.devicePath));
        break;
    case EBUSY:
        enter(State::Busy,
              QStringLiteral("The camera %1 is busy: %2 is using it.")
                  .arg(report.devicePath, report.holder.isEmpty()
                                              ? QStringLiteral("another program")
                                              : QStringLiteral("another program, ") + report.holder));
        break;
    case ENOENT:
        if (state == State::Reconnecting)
            updateText(QStringLiteral("Reconnecting: waiting for %1 to come back...").arg(wantedCamera()));
        else
            enter(State::Searching, searchingText());
        break;
    default:
        enter(State::Searching, QStringLiteral("Cannot open the camera %1: %2. Trying again...")
                                    .arg(report.devicePath, errnoText(report.error)));
        break;
    }
}

void MainControl::startCapture()
{
    if (!UVC_CAMERA_UVCIsOpen() || ffmpegThread->isRunning())
        return;

    // The picture in the frame: the whole frame, or a split frame's top half (drawn by the temperature
    // reader), which is also all a clip records of it.
    const QSize picture = camera.profile.pictureSize;
    frameProvider->setFormat(picture.width(), picture.height());
    thermalShown = false;
    if (camera.profile.layout == CameraProfile::Layout::Split)
        ffmpegThread->addFrameTap(thermal);
    clip->setPictureRows(picture.height());
    emit viewerStateChanged();

    // The player opens the node the camera library opened: one camera, whatever the others are called.
    const QString url =
        QStringLiteral("%1|%2x%3").arg(camera.devicePath).arg(camera.width).arg(camera.height);
    qCDebug(lcCamera) << "seturl " << url;

    noFrameCount = 0;
    delivered = false;
    capturing = true;
    frameIntervalMs = 0;
    sinceCaptureStart.start();
    ffmpegThread->setUrl(url);
    ffmpegThread->play();
    ffmpegThread->start();

    checkFrameTimer->start(1000);
    livenessTimer->start();
    syncTimer->start(2000);
    slotSyncDevice();

    // Retrying a camera another program streams: it stays busy until a picture comes.
    if (state != State::Busy) {
        const QString several = camera.matches > 1
                                    ? QStringLiteral("\n%1 cameras matched; showing the first, %2.")
                                          .arg(camera.matches)
                                          .arg(camera.devicePath)
                                    : QString();
        enter(State::WaitingForFirstPicture, QStringLiteral("Waiting for the first picture from %1 (%2)...%3")
                                                 .arg(camera.cardName, camera.devicePath, several));
    }
}

void MainControl::stopCapture()
{
    qCDebug(lcCamera) << "Ready stop Capture";
    capturing = false;
    checkFrameTimer->stop();
    livenessTimer->stop();
    syncTimer->stop();
    if (ffmpegThread->isRunning()) {
        ffmpegThread->stop();
        ffmpegThread->quit();
        ffmpegThread->wait();
    }
    // No more pictures come: a running clip ends here, whole (an unplug ends it so).
    endClip();
    ffmpegThread->removeFrameTap(thermal);
    thermal->reset();
    qCDebug(lcCamera) << "Finish stop Capture";
}

void MainControl::teardown()
{
    stopCapture();
    worker->postClose();
}

void MainControl::searchAgain(int delayMs)
{
    searchTimer->stop();
    retryTimer->start(delayMs);
}

void MainControl::slotEndUVCConnect()
{
    qCDebug(lcCamera) << "slot End UVC Connect";
    sessionActive = false;
    searchTimer->stop();
    retryTimer->stop();
    teardown();
}

int MainControl::pictureLostAfterMs() const
{
    return qMax(kPictureLostMs, int(3 * frameIntervalMs));
}

void MainControl::checkLiveness()
{
    if (!capturing || !delivered)
        return;
    const qint64 silent = sinceFrame.elapsed();
    if (silent < pictureLostAfterMs())
        return;
    const QString lost =
        QStringLiteral("Picture lost: no frame from the camera for %1 s.").arg(silent / 1000);
    if (state == State::Live)
        enter(State::PictureLost, lost);
    else if (state == State::PictureLost)
        updateText(lost);
}

void MainControl::slotCheckFrame()
{
    if (!delivered) {
        // A camera that has not delivered yet may be warming up (a shutter, a first calibration).
        if (sinceCaptureStart.elapsed() < kFirstPictureGraceMs)
            return;
    } else if (++noFrameCount <= 3) {
        return;
    }

    qCDebug(lcCamera) << "NO FRAME And Ready Reopn......................";
    const QString why = delivered ? QStringLiteral("the picture stopped") : QStringLiteral("no picture came");
    slotEndUVCConnect();
    sessionActive = true;
    enter(State::Reconnecting,
          QStringLiteral("Reconnecting: %1; opening %2 again...").arg(why, wantedCamera()));
    searchAgain(100);
}

void MainControl::updateImage(const QImage &image)
{
    if (!capturing)
        return; // queued before the capture stopped
    if (delivered) {
        const double interval = double(sinceFrame.elapsed());
        frameIntervalMs = frameIntervalMs > 0 ? 0.9 * frameIntervalMs + 0.1 * interval : interval;
    }
    sinceFrame.start();
    noFrameCount = 0;
    delivered = true;
    // On a split camera the player's image is the whole frame, temperatures included: the pane shows
    // the reader's picture instead, unless the frames turned out not to be split.
    if (!thermalShown)
        frameProvider->presentImage(image);
    if (state != State::Live && camera.profile.layout == CameraProfile::Layout::Split)
        showNotice(QStringLiteral("%1, layout: %2").arg(camera.cardName, camera.profile.layoutText()));
    if (state != State::Live)
        enter(
            State::Live,
            camera.matches > 1
                ? QStringLiteral("%1 cameras matched; showing %2.").arg(camera.matches).arg(camera.devicePath)
                : QString());
}

void MainControl::presentThermal(const QImage &picture)
{
    if (!capturing || camera.profile.layout != CameraProfile::Layout::Split)
        return; // queued before the capture stopped
    thermalShown = true;
    frameProvider->presentImage(picture);
}

void MainControl::playStart() {}
void MainControl::playFinsh() {}
void MainControl::snapImage(const QImage &) {}

// The player could not open the node the library opened: most often another program streams it.
void MainControl::PlayError()
{
    if (!capturing)
        return;
    const QString failure = ffmpegThread->openFailure();
    teardown();
    if (failure == media::errorText(AVERROR(EBUSY))) {
        enter(
            State::Busy,
            QStringLiteral("The camera %1 is busy: another program is streaming it.").arg(camera.devicePath));
    } else {
        enter(State::Reconnecting, QStringLiteral("Reconnecting: the picture of %1 cannot be read (%2)...")
                                       .arg(camera.devicePath, failure));
    }
    searchAgain(2000);
}

void MainControl::sendCommand(int channel, int value)
{
    if (!UVC_CAMERA_UVCIsOpen())
        return;
    if (channel == CameraWorker::Saturation) {
        lastZoom = value;
        zoomSettled = false;
    }
    worker->postCommand(CameraWorker::Channel(channel), value);
    syncTimer->stop();
    syncTimer->start(2000);
}

void MainControl::onCommandDone(int channel, int value, int error)
{
    if (channel == CameraWorker::Saturation && value == lastZoom)
        zoomSettled = true;
    if (error == 0) {
        reportedRefusals.clear();
        return;
    }
    const QString name =
        channel == CameraWorker::Contrast ? QStringLiteral("contrast") : QStringLiteral("saturation");
    if (!reportedRefusals.contains({channel, error})) {
        reportedRefusals.insert({channel, error});
        qCWarning(lcCamera).noquote() << QStringLiteral("The camera did not accept %1 %2: errno %3 (%4)")
                                             .arg(name)
                                             .arg(value)
                                             .arg(error)
                                             .arg(errnoText(error));
    }
    showNotice(QStringLiteral("Command not accepted by the camera (%1).").arg(errnoText(error)));
}

void MainControl::showNotice(const QString &message)
{
    notice = message;
    noticeTimer->start(kNoticeMs);
    emit statusChanged();
}

QString MainControl::picturesFolder() const
{
    return OutputFolders::pictures();
}

QString MainControl::videosFolder() const
{
    return OutputFolders::videos();
}

void MainControl::slotSnapshot()
{
    const QImage image = frameProvider->latestImage();
    // A picture that is not live is never kept as if it were.
    if (state != State::Live || image.isNull()) {
        showNotice(QStringLiteral("No live picture to save."));
        return;
    }
    SnapshotWriter::Companion temperatures;
    if (camera.profile.layout == CameraProfile::Layout::Split && thermal->active()) {
        // The values beside the picture: <name>-raw16.png and <name>.csv.
        temperatures = [reader = thermal](const QString &stem, QString *error) {
            return reader->saveTemperatures(stem, error);
        };
    }
    snapshots->write(image, OutputFolders::stampedFile(picturesFolder(), QStringLiteral(".png")),
                     temperatures);
}

void MainControl::openFolder(const QString &folder)
{
    QDir().mkpath(folder);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        showNotice(QStringLiteral("No file manager opened %1.").arg(QDir::toNativeSeparators(folder)));
}

bool MainControl::clipRecording() const
{
    return clipTimer->isActive();
}

int MainControl::clipSeconds() const
{
    return int(clip->elapsedMs() / 1000);
}

void MainControl::slotClip()
{
    if (clipTimer->isActive()) {
        endClip();
        return;
    }
    if (state != State::Live) {
        showNotice(QStringLiteral("No live picture to record."));
        return;
    }
    const QString folder = videosFolder();
    QDir().mkpath(folder);
    const QString file = OutputFolders::stampedFile(folder, QStringLiteral(".mp4"));
    if (!clip->start(file)) {
        showNotice(QStringLiteral("Clip not started: %1").arg(clip->errorText()));
        return;
    }
    qCInfo(lcCamera).noquote() << "clip started:" << file;
    clipTimer->start();
    emit clipChanged();
}

void MainControl::endClip()
{
    // stop() returns with the file complete; finished() follows, queued.
    if (clip->isRecording())
        clip->stop();
}

void MainControl::finishClip()
{
    if (clip->isRecording())
        return; // a newer clip already runs
    clipTimer->stop();
    emit clipChanged();
}

bool MainControl::routedAway(CameraProfile::Command command, double zoom)
{
    switch (camera.profile.target(command)) {
    case CameraProfile::Target::Camera:
        return false;
    case CameraProfile::Target::Nowhere:
        showNotice(QStringLiteral("This camera does not take that command."));
        return true;
    case CameraProfile::Target::Viewer:
        break;
    }
    switch (command) {
    case CameraProfile::Palette:
        thermal->nextPalette();
        return true;
    case CameraProfile::Tracking:
        viewerTrackingOn = !viewerTrackingOn;
        break;
    case CameraProfile::Record:
        slotClip(); // the viewer's own clip stands in for the camera's recording
        return true;
    case CameraProfile::Zoom:
        viewerZoomFactor = std::clamp(zoom, 1.0, 4.0);
        break;
    default:
        return true; // flat-field: no viewer stands in for the shutter
    }
    emit viewerStateChanged();
    return true;
}

void MainControl::slotRecord()
{
    qCDebug(lcCamera) << "slot Record";
    if (!routedAway(CameraProfile::Record))
        sendCommand(CameraWorker::Contrast, 0);
}

void MainControl::slotPalette()
{
    qCDebug(lcCamera) << "slot Palette";
    if (!routedAway(CameraProfile::Palette))
        sendCommand(CameraWorker::Contrast, 5);
}

void MainControl::slotTrack()
{
    qCDebug(lcCamera) << "slot Track";
    if (!routedAway(CameraProfile::Tracking))
        sendCommand(CameraWorker::Contrast, 2);
}

void MainControl::slotFFC()
{
    qCDebug(lcCamera) << "slot FFC";
    if (!routedAway(CameraProfile::FlatField))
        sendCommand(CameraWorker::Contrast, 4);
}

void MainControl::slotZoom(double value)
{
    if (routedAway(CameraProfile::Zoom, value))
        return;
    // The zoom factor travels in tenths, rounded to the nearest, exact halves upward.
    const int tenths = static_cast<int>(std::floor(value * 10.0 + 0.5));
    sendCommand(CameraWorker::Saturation, tenths);
}

// At most one refresh is asked for at a time: on a slow camera they would otherwise pile up.
void MainControl::slotSyncDevice()
{
    if (!UVC_CAMERA_UVCIsOpen() || refreshOutstanding)
        return;
    refreshOutstanding = true;
    worker->postRefresh();
}

void MainControl::onRefreshed(bool ran, double zoom, const QString &sn)
{
    refreshOutstanding = false;
    if (!ran)
        return;
    // A zoom the user asked for that the camera has not answered yet wins over what was read before it.
    // A zoom the viewer draws is not the camera's to report.
    if (zoomSettled && camera.profile.target(CameraProfile::Zoom) == CameraProfile::Target::Camera)
        emit sigUpdateZoomValue(zoom);
    emit sigUpdateSN(sn);
}
