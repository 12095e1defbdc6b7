#include "camera/CameraWorker.h"

#include "camera/CameraDeviceList.h"
#include "camera/CameraLog.h"
#include "camera/SyncTaskOne.h"
#include "camera/UVCCameraSDK.h"
#include "capture/NodeHolders.h"
#include "capture/V4l2DeviceDirectory.h"
#include "capture/V4l2FrameSizes.h"

#include <QDebug>
#include <QMutexLocker>

#include <algorithm>
#include <cerrno>

#ifndef Q_OS_WIN
#include <linux/videodev2.h>
#endif

CameraWorker::CameraWorker()
{
    qRegisterMetaType<CameraOpenReport>("CameraOpenReport");
}

void CameraWorker::setChoice(const QString &name, const QString &devicePath, const QString &serial)
{
    choiceName = name;
    choiceDevice = devicePath;
    choiceSerial = serial;
}

void CameraWorker::dropCommands()
{
    QMutexLocker locker(&queueMutex);
    queue.clear();
}

void CameraWorker::postCommand(Channel channel, int value)
{
    QMutexLocker locker(&queueMutex);
    if (channel == Saturation) {
        const auto waiting = std::find_if(
            queue.begin(), queue.end(), [](const Command &command) { return command.channel == Saturation; });
        if (waiting != queue.end()) {
            waiting->value = value;
            return;
        }
    }
    queue.push_back({channel, value});
    if (!sendPosted) {
        sendPosted = true;
        QMetaObject::invokeMethod(this, "sendCommands", Qt::QueuedConnection);
    }
}

void CameraWorker::postOpen()
{
    QMetaObject::invokeMethod(this, "open", Qt::QueuedConnection);
}

void CameraWorker::postClose()
{
    QMetaObject::invokeMethod(this, "close", Qt::QueuedConnection);
}

void CameraWorker::postRefresh()
{
    QMetaObject::invokeMethod(this, "refresh", Qt::QueuedConnection);
}

void CameraWorker::open()
{
    CameraOpenReport report;
    if (!choiceDevice.isEmpty())
        UVC_CAMERA_SelectUVCDevice(choiceDevice.toLocal8Bit().constData());
    else if (!choiceSerial.isEmpty())
        UVC_CAMERA_SelectUVCSerial(choiceSerial.toUtf8().constData());
    else
        UVC_CAMERA_SelectUVCCamera(choiceName.toUtf8().constData());
    report.ok = UVC_CAMERA_OpenUVC();
    report.error = report.ok ? 0 : UVC_CAMERA_GetLastError();
    report.matches = UVC_CAMERA_GetMatchCount();
    report.devicePath = QString::fromLocal8Bit(UVC_CAMERA_GetDevicePath());

    // What the search sees, in the log when it changes (not on every tick of a search that goes on).
    QList<CameraDevice> devices;
    CameraProfile::Facts facts; // of the camera opened, for its profile
#ifdef Q_OS_WIN
    devices = listCameraDevices();
#else
    for (const V4l2DeviceDirectory::Node &node : V4l2DeviceDirectory().nodes()) {
        if (node.index == 0)
            devices.append({node.devicePath, node.cardName, QCamera::UnspecifiedPosition});
        if (report.ok && node.devicePath == report.devicePath) {
            facts.vendorId = node.usbVendorId;
            facts.productId = node.usbProductId;
        }
    }
    const QString card = QString::fromUtf8(UVC_CAMERA_GetFriendlyName());
    if (report.ok && CameraProfile::needsSizes(card, layoutOverride))
        facts.yuyvSizes = V4l2FrameSizes::ofNode(report.devicePath, V4L2_PIX_FMT_YUYV);
#endif
    QStringList found;
    for (const CameraDevice &device : devices)
        found << QStringLiteral("%1 (%2)").arg(device.description, device.deviceName);
    if (found != lastFound) {
        lastFound = found;
        for (const CameraDevice &device : devices) {
            qCDebug(lcCamera) << "deviceName:" << device.deviceName;
            qCDebug(lcCamera) << "description:" << device.description;
            qCDebug(lcCamera) << "position:" << device.position;
        }
    }

    if (report.ok) {
        qCDebug(lcCamera) << "Open UVC OK And Ready Start Capture";
        report.cardName = QString::fromUtf8(UVC_CAMERA_GetFriendlyName());
        // The profile says what size to capture at (a split camera's 256x384); else the camera's own.
        facts.cardName = report.cardName;
        facts.currentSize = QSize(UVC_CAMERA_GetWidth(), UVC_CAMERA_GetHeight());
        report.profile = CameraProfile::choose(facts, layoutOverride);
        report.width = report.profile.frameSize.width();
        report.height = report.profile.frameSize.height();
        qCDebug(lcCamera).noquote() << "Camera profile" << report.profile.name << "layout"
                                    << report.profile.layoutText();
    } else {
        report.found = found;
        if (report.error == EBUSY && !report.devicePath.isEmpty())
            report.holder = NodeHolders::describe(report.devicePath);
    }
    emit opened(report);
}

void CameraWorker::close()
{
    UVC_CAMERA_CloseUVC();
    emit closed();
}

void CameraWorker::refresh()
{
    if (!UVC_CAMERA_UVCIsOpen()) {
        emit refreshed(false, 0, QString());
        return;
    }
    const SyncTaskOne::Result result = SyncTaskOne::run();
    emit refreshed(result.ok, result.zoom, result.sn);
}

// One command per call, then the next call is queued behind whatever was asked for meanwhile (a
// close, a refresh), so those do not wait for a long queue of commands.
void CameraWorker::sendCommands()
{
    Command command;
    {
        QMutexLocker locker(&queueMutex);
        if (queue.empty()) {
            sendPosted = false;
            return;
        }
        command = queue.front();
        queue.pop_front();
    }
    const int result = command.channel == Contrast ? UVC_CAMERA_SetContrast(command.value)
                                                   : UVC_CAMERA_SetSaturation(command.value);
    emit commandDone(command.channel, command.value, result < 0 ? -result : 0);
    QMetaObject::invokeMethod(this, "sendCommands", Qt::QueuedConnection);
}
