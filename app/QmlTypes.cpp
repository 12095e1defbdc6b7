#include "app/QmlTypes.h"

#include "camera/MainControl.h"
#include "presentation/SoftwareVideoItem.h"

#include <QQmlEngine>

void registerQmlTypes()
{
    qmlRegisterType<MainControl>("MainControl", 1, 0, "MainControl");
    qmlRegisterType<SoftwareVideoItem>("TarnVideo", 1, 0, "SoftwareVideo");
}
