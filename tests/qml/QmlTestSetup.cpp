#include "QmlTestSetup.h"

#include "MainControlDouble.h"

#include <QColor>
#include <QDebug>
#include <QImage>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQml>

void QmlTestSetup::record(const QString &slot, const QVariant &zoom)
{
    harness->names << slot;
    if (zoom.isValid())
        harness->zooms << zoom;
    qDebug().noquote() << "MainControl double:" << slot;
}

void QmlTestSetup::clear()
{
    names.clear();
    zooms.clear();
    // The test runner installs its own message handler once the tests start: capture on top of it.
    if (!capture)
        capture = std::make_unique<LogCapture>();
    capture->clear();
}

void QmlTestSetup::showPicture(int width, int height, const QVariantList &quarterColors)
{
    QImage quarters(2, 2, QImage::Format_RGB32);
    for (int i = 0; i < 4; ++i)
        quarters.setPixel(i % 2, i / 2, quarterColors.value(i).value<QColor>().rgb());
    provider.setFormat(width, height);
    provider.onNewVideoContentReceived(QVideoFrame(quarters.scaled(width, height)));
}

void QmlTestSetup::applicationAvailable()
{
    qmlRegisterType<MainControlDouble>("MainControl", 1, 0, "MainControl");
}

void QmlTestSetup::qmlEngineAvailable(QQmlEngine *engine)
{
    engine->rootContext()->setContextProperty(QStringLiteral("frameProvider"), &provider);
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    settings = std::make_unique<ViewerSettings>();
    engine->rootContext()->setContextProperty(QStringLiteral("viewerSettings"), settings.get());
    engine->rootContext()->setContextProperty(QStringLiteral("harness"), this);
}
