#include "capture/CameraName.h"

#include <QRegularExpression>

bool CameraName::matches(const QString &cardName, const QString &wanted)
{
    if (wanted.isEmpty() || cardName.isEmpty())
        return false;
    if (cardName == wanted)
        return true;
    const int separator = cardName.lastIndexOf(QLatin1String(": "));
    const QString function = separator >= 0 ? cardName.mid(separator + 2) : QString();
    if (!function.isEmpty() && function == wanted)
        return true;

    // A camera without a product string: uvcvideo names it after its USB id.
    static const QRegularExpression usbId(QStringLiteral("^(.*) \\([0-9a-f]{4}:[0-9a-f]{4}\\)$"));
    const auto id = usbId.match(cardName);
    if (id.hasMatch() && id.captured(1) == wanted)
        return true;

    // Cut at 31 characters: what is left must be the start of the wanted name.
    if (cardName.size() == kCutLength) {
        if (wanted.startsWith(cardName))
            return true;
        if (!function.isEmpty() && wanted.startsWith(function))
            return true;
    }
    return false;
}
