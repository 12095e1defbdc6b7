#include "app/ViewerSettings.h"

namespace {
const QString kStretch = QStringLiteral("stretch");
const QString kFit = QStringLiteral("fit");
const QString kCelsius = QStringLiteral("C");
const QString kFahrenheit = QStringLiteral("F");
} // namespace

ViewerSettings::ViewerSettings(QObject *parent)
    : QObject(parent), store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("tarn-player"),
                             QStringLiteral("viewer"))
{
    // A value edited by hand into something else reads as the default.
    shape = store.value(QStringLiteral("pictureShape")).toString() == kFit ? kFit : kStretch;
    full = store.value(QStringLiteral("fullScreen"), false).toBool();
    unit = store.value(QStringLiteral("temperatureUnit")).toString() == kFahrenheit ? kFahrenheit : kCelsius;
}

void ViewerSettings::setPictureShape(const QString &value)
{
    const QString next = value == kFit ? kFit : kStretch;
    if (next == shape)
        return;
    shape = next;
    store.setValue(QStringLiteral("pictureShape"), shape);
    store.sync();
    emit pictureShapeChanged();
}

void ViewerSettings::setFullScreen(bool value)
{
    if (value == full)
        return;
    full = value;
    store.setValue(QStringLiteral("fullScreen"), full);
    store.sync();
    emit fullScreenChanged();
}

void ViewerSettings::setTemperatureUnit(const QString &value)
{
    const QString next = value == kFahrenheit ? kFahrenheit : kCelsius;
    if (next == unit)
        return;
    unit = next;
    store.setValue(QStringLiteral("temperatureUnit"), unit);
    store.sync();
    emit temperatureUnitChanged();
}
