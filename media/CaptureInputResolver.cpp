#include "media/CaptureInputResolver.h"

#include "capture/V4l2DeviceDirectory.h"

CaptureInputResolver::CaptureInputResolver(QString sysfsRoot, QString devRoot)
    : sysfsRoot(std::move(sysfsRoot)), devRoot(std::move(devRoot))
{}

CaptureInputResolver::Input CaptureInputResolver::resolve(const QString &deviceUrl) const
{
#ifdef Q_OS_WIN
    return {deviceUrl, QStringLiteral("dshow")};
#else
    const QString v4l2 = QStringLiteral("v4l2");
    const QString prefix = QStringLiteral("video=");
    if (!deviceUrl.startsWith(prefix))
        return {deviceUrl, v4l2};

    const QString name = deviceUrl.mid(prefix.size());
    if (const auto node = V4l2DeviceDirectory(sysfsRoot, devRoot).findCaptureNode(name))
        return {node->devicePath, v4l2};
    // No such camera: the "v4l2" open of the bare name fails and the player reports it.
    return {name, v4l2};
#endif
}
