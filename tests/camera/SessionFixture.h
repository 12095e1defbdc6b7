#pragma once
// What the controller tests share: the simulated camera in the state it has after plug-in, the real
// process-wide player and frame provider, a recording surface on the provider, and calls into the
// controller's slots by name, as QML makes them.

#include "app/AppGlobals.h"
#include "camera/MainControl.h"
#include "camera/sim/SimulatedCamera.h"
#include "media/FFmpegThread.h"
#include "presentation/FameProvider.h"

#include <QAbstractVideoSurface>
#include <QMutex>
#include <QtTest>
#include <QVideoSurfaceFormat>

// A video surface that keeps the frame numbers of what it is shown.
class CountingSurface : public QAbstractVideoSurface
{
public:
    QList<QVideoFrame::PixelFormat>
    supportedPixelFormats(QAbstractVideoBuffer::HandleType type) const override
    {
        return type == QAbstractVideoBuffer::NoHandle
                   ? QList<QVideoFrame::PixelFormat>{QVideoFrame::Format_RGB32}
                   : QList<QVideoFrame::PixelFormat>{};
    }

    bool present(const QVideoFrame &frame) override
    {
        QVideoFrame copy(frame);
        int number = -1;
        if (copy.map(QAbstractVideoBuffer::ReadOnly)) {
            const QImage image(copy.bits(), copy.width(), copy.height(), copy.bytesPerLine(),
                               QImage::Format_RGB32);
            number = SimulatedCamera::decodeFrameNumber(image);
            copy.unmap();
        }
        frameNumbers << number;
        return true;
    }

    QList<int> frameNumbers;
};

inline void invoke(QObject *object, const char *slot)
{
    QVERIFY2(QMetaObject::invokeMethod(object, slot, Qt::DirectConnection), slot);
}

inline void invokeZoom(QObject *object, double value)
{
    QVERIFY(QMetaObject::invokeMethod(object, "slotZoom", Qt::DirectConnection, Q_ARG(double, value)));
}

// Resets the camera and hangs a fresh surface on the provider; ends any session a test left behind.
class SessionFixture
{
public:
    SessionFixture()
    {
        SimulatedCamera::instance().reset();
        SimulatedCamera::instance().setFrameNumbersStamped(true);
        frameProvider->setVideoSurface(&surface);
    }

    ~SessionFixture()
    {
        control.reset();
        if (ffmpegThread->isRunning()) {
            ffmpegThread->stop();
            ffmpegThread->wait();
        }
        frameProvider->setVideoSurface(nullptr);
        SimulatedCamera::instance().reset();
    }

    MainControl *makeControl()
    {
        control = std::make_unique<MainControl>();
        return control.get();
    }

    SimulatedCamera &camera() { return SimulatedCamera::instance(); }

    // Waits until the surface has been shown count more frames, each carrying a frame number.
    bool waitForFrames(int count, int timeoutMs = 15000)
    {
        const int target = surface.frameNumbers.size() + count;
        return QTest::qWaitFor([&] { return surface.frameNumbers.size() >= target; }, timeoutMs);
    }

    CountingSurface surface;
    std::unique_ptr<MainControl> control;
};
