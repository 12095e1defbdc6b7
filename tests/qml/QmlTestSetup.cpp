#include "QmlTestSetup.h"

#include "ControlJournal.h"
#include "MainControlDouble.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QtQml>

void QmlTestSetup::applicationAvailable()
{
    qmlRegisterType<MainControlDouble>("MainControl", 1, 0, "MainControl");
}

void QmlTestSetup::qmlEngineAvailable(QQmlEngine *engine)
{
    engine->rootContext()->setContextProperty(QStringLiteral("frameProvider"), &provider);
    engine->rootContext()->setContextProperty(QStringLiteral("journal"), ControlJournal::instance());
    engine->rootContext()->setContextProperty(QStringLiteral("testPicture"), &picture);
}
