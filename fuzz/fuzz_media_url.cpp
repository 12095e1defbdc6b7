// The player's URL rules (MediaUrl) on any string: the classification, the device suffix, the target of
// the TCP pre-check (not the connection itself), the options of the open and the rules applied at open,
// each with what it promises checked.

#include "media/MediaUrl.h"

#include "media/AvPointers.h"
#include "media/PlayerSettings.h"

#include <QLoggingCategory>
#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {
void check(bool condition)
{
    if (!condition)
        std::abort();
}

void classify(const QString &url)
{
    const bool device = MediaUrl::isDevice(url);
    MediaUrl::isNetwork(url);

    const MediaUrl::DeviceSuffix suffix = MediaUrl::parseDeviceSuffix(url);
    // Only a device URL has a suffix, and what names the device is the start of the URL.
    check(!suffix.hasSize || device);
    check(url.startsWith(suffix.url));
    check(suffix.hasSize || !suffix.hasRate);

    const MediaUrl::ConnectTarget target = MediaUrl::connectTarget(url);
    check(target.port > 0);

    PlayerSettings settings;
    MediaUrl::applyUrl(settings, url);
    check(url.startsWith(settings.url));
    check(settings.isDevice == (!url.isEmpty() && device));
    av::DictionaryPtr options;
    MediaUrl::addInputOptions(av::out(options), settings);
    check(av_dict_get(options.get(), "buffer_size", nullptr, 0) != nullptr);
    MediaUrl::applyOpenRules(settings);
    check(!settings.isDevice || settings.hardware == QLatin1String("none"));
    check(!MediaUrl::mayRecord(settings, false));
    MediaUrl::mayRecord(settings, true);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("tarn.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // URLs come from the command line and the settings as UTF-8, and from QML as UTF-16.
    classify(QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)));
    classify(QString(reinterpret_cast<const QChar *>(data), int(size / sizeof(QChar))));
    return 0;
}
