#include "app/QmlTypes.h"

#include "camera/MainControl.h"

#include <QQmlEngine>

void registerQmlTypes()
{
    qmlRegisterType<MainControl>("MainControl", 1, 0, "MainControl");
}
