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

template <typename T> bool ViewerSettings::remember(T &field, const T &value, const QString &key)
{
    if (value == field)
        return false;
    field = value;
    store.setValue(key, value);
    store.sync();
    return true;
}

void ViewerSettings::setPictureShape(const QString &value)
{
    if (remember(shape, value == kFit ? kFit : kStretch, QStringLiteral("pictureShape")))
        emit pictureShapeChanged();
}

void ViewerSettings::setFullScreen(bool value)
{
    if (remember(full, value, QStringLiteral("fullScreen")))
        emit fullScreenChanged();
}

void ViewerSettings::setTemperatureUnit(const QString &value)
{
    if (remember(unit, value == kFahrenheit ? kFahrenheit : kCelsius, QStringLiteral("temperatureUnit")))
        emit temperatureUnitChanged();
}
