#include "app/QmlTypes.h"

#include "app/AppGlobals.h"
#include "app/ViewerSettings.h"
#include "presentation/FameProvider.h"

#include "camera/MainControl.h"
#include "presentation/SoftwareVideoItem.h"
#include "thermal/ThermalReader.h"

#include <QQmlContext>
#include <QQmlEngine>

void registerQmlTypes()
{
    qmlRegisterType<MainControl>("MainControl", 1, 0, "MainControl");
    qmlRegisterType<SoftwareVideoItem>("TarnVideo", 1, 0, "SoftwareVideo");
    // The session's temperature reader (MainControl.thermal): its palettes by name in QML.
    qmlRegisterUncreatableType<ThermalReader>("TarnThermal", 1, 0, "ThermalReader",
                                              QStringLiteral("the camera session makes the reader"));
}

void publishWindowObjects(QQmlContext *context)
{
    // Outlives every window: the engines that show one go before the process ends.
    static ViewerSettings *settings = new ViewerSettings;
    context->setContextProperty(QStringLiteral("frameProvider"), frameProvider);
    context->setContextProperty(QStringLiteral("viewerSettings"), settings);
}
