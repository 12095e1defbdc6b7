// The window side of the process: the provider's frames on a real VideoOutput, and the entry's exit code
// when the window document cannot be created.

#include "presentation/FameProvider.h"

#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QtTest>

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void presentedFrameFillsTheVideoOutput();
    void windowDocumentThatFailsExitsMinusOne();
};

// A frame of four coloured quadrants, stretched over the whole window.
void WindowTest::presentedFrameFillsTheVideoOutput()
{
    FameProvider provider;
    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty("frameProvider", &provider);
    engine.load(QUrl::fromLocalFile(QFINDTESTDATA("VideoWindow.qml")));
    QCOMPARE(engine.rootObjects().size(), 1);
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTRY_VERIFY(provider.videoSurface() != nullptr);

    QImage image(64, 48, QImage::Format_RGB32);
    const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255),
               white = qRgb(255, 255, 255);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const bool left = x < image.width() / 2, top = y < image.height() / 2;
            image.setPixel(x, y, top ? (left ? red : green) : (left ? blue : white));
        }
    }
    provider.setFormat(image.width(), image.height());

    auto colourNear = [](QRgb actual, QRgb expected) {
        return qAbs(qRed(actual) - qRed(expected)) < 40 && qAbs(qGreen(actual) - qGreen(expected)) < 40 &&
               qAbs(qBlue(actual) - qBlue(expected)) < 40;
    };
    QImage grabbed;
    // Keep presenting, as the camera does, until the picture is on screen.
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                 provider.onNewVideoContentReceived(QVideoFrame(image));
                                 grabbed = window->grabWindow();
                                 const int w = grabbed.width(), h = grabbed.height();
                                 return colourNear(grabbed.pixel(w / 4, h / 4), red) &&
                                        colourNear(grabbed.pixel(3 * w / 4, h / 4), green) &&
                                        colourNear(grabbed.pixel(w / 4, 3 * h / 4), blue) &&
                                        colourNear(grabbed.pixel(3 * w / 4, 3 * h / 4), white);
                             }()),
                             10000);
    // Stretched: the quadrants meet in the middle of the window.
    QVERIFY(colourNear(grabbed.pixel(grabbed.width() / 2 - 4, 4), red));
    QVERIFY(colourNear(grabbed.pixel(grabbed.width() / 2 + 4, 4), green));
    QVERIFY(colourNear(grabbed.pixel(4, grabbed.height() - 4), blue));
}

void WindowTest::windowDocumentThatFailsExitsMinusOne()
{
    const QString program = QCoreApplication::applicationDirPath() + "/tarn-broken-window";
    if (!QFileInfo::exists(program))
        QSKIP("tarn-broken-window is built together with a camera library");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    // In a sanitizer build, Qt's own exit-time leaks would turn the -1 into LeakSanitizer's 1.
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    process.setProcessEnvironment(env);
    process.start(program, QStringList());
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(static_cast<signed char>(process.exitCode()), -1);
}

int main(int argc, char *argv[])
{
    // Inside a virtual X display the offscreen platform can still make GL contexts and grab windows.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    WindowTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
