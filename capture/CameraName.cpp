#include "capture/CameraName.h"

bool CameraName::matches(const QString &cardName, const QString &wanted)
{
    if (wanted.isEmpty())
        return false;
    if (cardName == wanted)
        return true;
    const int separator = cardName.lastIndexOf(QLatin1String(": "));
    return separator >= 0 && QStringView(cardName).mid(separator + 2) == wanted;
}
