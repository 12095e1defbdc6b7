#include "app/QmlTypes.h"

#include "camera/MainControl.h"
#include "presentation/SoftwareVideoItem.h"
#include "thermal/ThermalReader.h"

#include <QQmlEngine>

void registerQmlTypes()
{
    qmlRegisterType<MainControl>("MainControl", 1, 0, "MainControl");
    qmlRegisterType<SoftwareVideoItem>("TarnVideo", 1, 0, "SoftwareVideo");
    // The session's temperature reader (MainControl.thermal): its palettes by name in QML.
    qmlRegisterUncreatableType<ThermalReader>("TarnThermal", 1, 0, "ThermalReader",
                                              QStringLiteral("the camera session makes the reader"));
}
