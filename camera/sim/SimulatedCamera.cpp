#include "camera/sim/SimulatedCamera.h"

#include "camera/sim/FrameNumberStamp.h"
#include "capture/CaptureSourceRegistry.h"

#include <QDebug>
#include <QDir>
#include <QMutexLocker>
#include <QThread>

#include <cstring>
#include <pthread.h>
#include <set>
#include <string>
#include <unistd.h>

namespace {
constexpr char frameMarker[] = "FRAME\n";
constexpr size_t markerSize = sizeof frameMarker - 1;
constexpr size_t lumaSize = size_t(SimulatedCamera::Width) * SimulatedCamera::Height;
constexpr size_t chromaSize = lumaSize / 4;
constexpr std::chrono::nanoseconds framePeriod(1000000000LL / SimulatedCamera::FramesPerSecond);

qint64 steadyNs(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// Unique per process; short enough for a socket address even under a long temporary directory.
QString makeSocketPath()
{
    const QString name = QStringLiteral("tarn-sim-%1.sock").arg(::getpid());
    const QString preferred = QDir(QDir::tempPath()).filePath(name);
    return preferred.toLocal8Bit().size() < 100 ? preferred : QStringLiteral("/tmp/") + name;
}

QByteArray streamHeader()
{
    return QByteArrayLiteral("YUV4MPEG2 W") + QByteArray::number(SimulatedCamera::Width) + " H" +
           QByteArray::number(SimulatedCamera::Height) + " F" +
           QByteArray::number(SimulatedCamera::FramesPerSecond) +
           ":1 Ip A1:1 C420jpeg XYSCSS=420JPEG XCOLORRANGE=LIMITED\n";
}
} // namespace

const char *const SimulatedCamera::Name = "UVC Camera";
const char *const SimulatedCamera::DefaultSerialNumber = "TSIM-0A7F-640512";

SimulatedCamera &SimulatedCamera::instance()
{
    static SimulatedCamera camera;
    return camera;
}

SimulatedCamera::SimulatedCamera()
    : path(makeSocketPath()), created(std::chrono::steady_clock::now()),
      frame(markerSize + lumaSize + 2 * chromaSize), deviceSerial(DefaultSerialNumber),
      refreshedSerial(intern(DefaultSerialNumber))
{
    std::memcpy(frame.data(), frameMarker, markerSize);
    uint8_t *y = frame.data() + markerSize;
    scene.render(0, ThermalScene::View(), y, y + lumaSize, y + lumaSize + chromaSize);
    frameTimeSeq.fill(-1);
    QMutexLocker locker(&plugMutex);
    plugInLocked();
}

SimulatedCamera::~SimulatedCamera()
{
    QMutexLocker locker(&plugMutex);
    unplugLocked();
}

const char *SimulatedCamera::intern(const QByteArray &text)
{
    static QMutex internMutex;
    static std::set<std::string> texts;
    QMutexLocker locker(&internMutex);
    return texts.emplace(text.constData(), size_t(text.size())).first->c_str();
}

bool SimulatedCamera::plugInLocked()
{
    if (plugged.load())
        return true;
    if (!server.listen(path, streamHeader())) {
        qDebug() << "SimulatedCamera: cannot listen on" << path;
        return false;
    }
    streamThread = std::thread([this] { run(); });
    plugged.store(true);
    CaptureSourceRegistry::add(QString::fromLatin1(Name), {url(), QStringLiteral("yuv4mpegpipe")});
    return true;
}

void SimulatedCamera::unplugLocked()
{
    if (!plugged.load())
        return;
    {
        // Under the state lock, so that an open() running now cannot leave the camera open.
        QMutexLocker locker(&stateMutex);
        plugged.store(false);
        opened.store(false);
    }
    CaptureSourceRegistry::remove(QString::fromLatin1(Name));
    server.requestStop();
    if (streamThread.joinable())
        streamThread.join();
    server.close();
}

void SimulatedCamera::unplug()
{
    QMutexLocker locker(&plugMutex);
    unplugLocked();
}

void SimulatedCamera::replug()
{
    QMutexLocker locker(&plugMutex);
    plugInLocked();
}

void SimulatedCamera::setStalled(bool stalled)
{
    stalledFlag.store(stalled);
}

void SimulatedCamera::failNextOpen()
{
    failOpen.store(true);
}

void SimulatedCamera::setRefreshDelay(int milliseconds)
{
    refreshDelayMs.store(qMax(0, milliseconds));
}

void SimulatedCamera::setSerialNumber(const QByteArray &serial)
{
    QMutexLocker locker(&stateMutex);
    deviceSerial = serial;
}

void SimulatedCamera::reset()
{
    QMutexLocker plugLocker(&plugMutex);
    plugInLocked();
    opened.store(false);
    stalledFlag.store(false);
    failOpen.store(false);
    refreshDelayMs.store(0);
    palette.store(0);
    zoomTenths.store(10);
    tracking.store(false);
    recording.store(false);
    frozenUntilNs.store(0);
    refreshedSaturation.store(10);
    refreshedSerial.store(intern(DefaultSerialNumber));
    QMutexLocker locker(&stateMutex);
    deviceSerial = DefaultSerialNumber;
    contrastValues.clear();
    saturationValues.clear();
}

void SimulatedCamera::select(const QByteArray &name)
{
    QMutexLocker locker(&stateMutex);
    selectedName = name;
}

bool SimulatedCamera::open()
{
    QMutexLocker locker(&stateMutex);
    if (opened.load())
        return true;
    if (!plugged.load() || selectedName != Name)
        return false;
    if (failOpen.exchange(false))
        return false;
    refreshedSaturation.store(zoomTenths.load());
    refreshedSerial.store(intern(deviceSerial));
    opened.store(true);
    return true;
}

void SimulatedCamera::close()
{
    opened.store(false);
}

bool SimulatedCamera::setContrast(int value)
{
    {
        QMutexLocker locker(&stateMutex);
        contrastValues.append(value);
    }
    if (!isOpen())
        return false;
    switch (value) {
    case 0:
        recording.store(!recording.load());
        break;
    case 2:
        tracking.store(!tracking.load());
        break;
    case 4:
        frozenUntilNs.store(steadyNs(std::chrono::steady_clock::now() + std::chrono::milliseconds(FreezeMs)));
        break;
    case 5:
        palette.store((palette.load() + 1) % ThermalScene::PaletteCount);
        break;
    default:
        break; // accepted, no visible effect
    }
    return true;
}

bool SimulatedCamera::setSaturation(int value)
{
    {
        QMutexLocker locker(&stateMutex);
        saturationValues.append(value);
    }
    if (!isOpen())
        return false;
    zoomTenths.store(qBound(10, value, 40));
    return true;
}

bool SimulatedCamera::refresh()
{
    const int delay = refreshDelayMs.load();
    if (delay > 0)
        QThread::msleep(ulong(delay));
    if (!isOpen())
        return false;
    QMutexLocker locker(&stateMutex);
    refreshedSaturation.store(zoomTenths.load());
    refreshedSerial.store(intern(deviceSerial));
    return true;
}

QVector<int> SimulatedCamera::receivedContrast() const
{
    QMutexLocker locker(&stateMutex);
    return contrastValues;
}

QVector<int> SimulatedCamera::receivedSaturation() const
{
    QMutexLocker locker(&stateMutex);
    return saturationValues;
}

void SimulatedCamera::clearReceived()
{
    QMutexLocker locker(&stateMutex);
    contrastValues.clear();
    saturationValues.clear();
}

bool SimulatedCamera::isFrozen() const
{
    return steadyNs(std::chrono::steady_clock::now()) < frozenUntilNs.load();
}

qint64 SimulatedCamera::frameWrittenAt(qint64 seq) const
{
    if (seq < 0)
        return -1;
    QMutexLocker locker(&frameTimeMutex);
    const size_t slot = size_t(seq % FrameTimeHistory);
    return frameTimeSeq[slot] == seq ? frameTimeNs[slot] : -1;
}

int SimulatedCamera::decodeFrameNumber(const QImage &rgb)
{
    return FrameNumberStamp::decode(rgb);
}

QRect SimulatedCamera::frameNumberArea()
{
    return FrameNumberStamp::area();
}

// Stream thread: paces the frames, serves connections in between.
void SimulatedCamera::run()
{
    pthread_setname_np(pthread_self(), "SimulatedCamera");
    QThread::currentThread()->setObjectName(QStringLiteral("SimulatedCamera"));
    auto next = std::chrono::steady_clock::now();
    while (!server.stopRequested()) {
        server.waitUntil(next);
        if (server.stopRequested())
            break;
        const auto now = std::chrono::steady_clock::now();
        next += framePeriod;
        if (next < now)
            next = now + framePeriod; // fell behind (a slow reader): keep the rate, don't catch up
        if (stalledFlag.load() || !server.hasClient())
            continue;
        produceFrame(now);
    }
}

// Stream thread.
void SimulatedCamera::produceFrame(std::chrono::steady_clock::time_point now)
{
    uint8_t *y = frame.data() + markerSize;
    uint8_t *u = y + lumaSize;
    uint8_t *v = u + chromaSize;
    if (steadyNs(now) >= frozenUntilNs.load()) {
        ThermalScene::View view;
        view.palette = palette.load();
        view.zoomTenths = zoomTenths.load();
        view.tracking = tracking.load();
        view.recording = recording.load();
        scene.render(std::chrono::duration<double>(now - created).count(), view, y, u, v);
    }
    const qint64 seq = nextSequence++;
    if (stampFrames.load())
        FrameNumberStamp::draw(uint32_t(seq), y, Width, u, v, Width / 2);
    {
        QMutexLocker locker(&frameTimeMutex);
        const size_t slot = size_t(seq % FrameTimeHistory);
        frameTimeSeq[slot] = seq;
        frameTimeNs[slot] = steadyNs(std::chrono::steady_clock::now());
    }
    if (server.write(frame.data(), frame.size())) {
        lastWritten.store(seq);
        written.fetch_add(1);
    }
}
