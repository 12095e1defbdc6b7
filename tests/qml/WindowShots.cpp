// Xvfb has no window manager to maximise the window, so this sizes it as one would: to the screen's
// available area, or to the size asked for.
#include "ControlJournal.h"
#include "MainControlDouble.h"
#include "presentation/FameProvider.h"
#include "TestPicture.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QScreen>
#include <QTextStream>
#include <QTimer>
#include <QtQml>

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        QTextStream(stderr) << "usage: tarn-window-shots OUT.png [WIDTHxHEIGHT]\n";
        return 2;
    }

    qmlRegisterType<MainControlDouble>("MainControl", 1, 0, "MainControl");
    FameProvider provider;
    TestPicture picture(&provider);
    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("frameProvider"), &provider);
    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window)
        return 1;

    QRect geometry = window->screen()->availableGeometry();
    const QRegularExpressionMatch size = QRegularExpression("^(\\d+)x(\\d+)$").match(args.value(2));
    if (size.hasMatch())
        geometry = QRect(0, 0, size.captured(1).toInt(), size.captured(2).toInt());
    window->setGeometry(geometry);

    QObject *control = ControlJournal::instance()->control();
    QMetaObject::invokeMethod(control, "sigUpdateSN", Q_ARG(QString, QStringLiteral("TC0640-21A7")));
    QMetaObject::invokeMethod(control, "sigUpdateZoomValue", Q_ARG(double, 2.0));

    QTimer frames;
    QObject::connect(&frames, &QTimer::timeout, [&] { picture.show(640, 512); });
    frames.start(40);

    QTimer::singleShot(1500, [&] {
        const QImage shot = window->grabWindow();
        shot.save(args.at(1));
        QTextStream(stdout) << "title: " << window->title() << "\nwindow: " << window->width() << "x"
                            << window->height() << "\nsaved: " << args.at(1) << "\n";
        app.quit();
    });
    return app.exec();
}
