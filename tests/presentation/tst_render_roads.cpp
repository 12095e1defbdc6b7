// Both ways the window draws the picture show the same pixels: the real window document on the OpenGL
// road (VideoOutput) and on the software road (SoftwareVideoItem), each in a process of its own (the
// scene graph's backend is chosen once per process), fed the same image through the frame provider.
// Under Xvfb OpenGL is llvmpipe, so the viewer's own choice is the software road.
#include "app/AppGlobals.h"
#include "app/QmlTypes.h"
#include "presentation/FameProvider.h"
#include "presentation/RenderRoad.h"

#include "TestMedia.h"

#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Flat blocks with a bright square in the middle: only their edges depend on the scaling filter.
QImage testPicture()
{
    QImage picture(320, 256, QImage::Format_RGB32);
    QPainter painter(&picture);
    painter.fillRect(0, 0, 160, 128, QColor(200, 40, 40));
    painter.fillRect(160, 0, 160, 128, QColor(40, 200, 40));
    painter.fillRect(0, 128, 160, 128, QColor(40, 40, 200));
    painter.fillRect(160, 128, 160, 128, QColor(120, 120, 120));
    painter.fillRect(120, 96, 80, 64, Qt::white);
    return picture;
}

// The child: the window on the road asked for; prints the road taken and saves the pane's pixels.
int drawPane(int argc, char *argv[], const QString &road, const QString &output)
{
    QGuiApplication app(argc, argv);
    frameProvider->setRenderRoad(RenderRoad::name(RenderRoad::choose(road)));
    QQmlApplicationEngine engine;
    registerQmlTypes();
    publishWindowObjects(engine.rootContext());
    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window || !QTest::qWaitForWindowExposed(window, 20000))
        return 3;
    // The session's status and mark lie over the pane (no camera here); this looks at the picture under them.
    for (const char *overlay : {"idPictureMark", "idStatusBox"}) {
        if (auto *item = window->findChild<QQuickItem *>(QString::fromLatin1(overlay)))
            item->setOpacity(0); // its visibility is bound to the session
    }
    const QImage picture = testPicture();
    frameProvider->setFormat(picture.width(), picture.height());
    int swaps = 0;
    QObject::connect(window, &QQuickWindow::frameSwapped, [&swaps] { ++swaps; });
    // Presented until a few frames have gone to the screen since (both roads draw the latest image).
    const bool drawn = QTest::qWaitFor(
        [&] {
            frameProvider->presentImage(picture);
            window->update();
            return swaps >= 5;
        },
        20000);
    if (!drawn)
        return 4;
    const QQuickItem *pane = window->findChild<QQuickItem *>(QStringLiteral("idCenterPane"));
    if (!pane)
        return 5;
    const QImage shot = window->grabWindow();
    const QRectF area = pane->mapRectToScene(pane->boundingRect());
    const qreal scale = shot.width() / qreal(window->width());
    shot.copy(QRectF(area.topLeft() * scale, area.size() * scale).toRect()).save(output);
    QTextStream(stdout) << frameProvider->renderRoad() << Qt::endl;
    return 0;
}
} // namespace

class RenderRoadsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    // Runs this program as the child on road; the road it took and the pane it drew.
    QString draw(const QString &road, QImage &pane)
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TARN_DRAW_ROAD", road);
        environment.insert("TARN_DRAW_OUTPUT", dir.filePath(road + ".png"));
        environment.insert("QT_LOGGING_RULES", "*.debug=false");
        // Full stacks under the sanitizers off the OpenGL road: what the software scene graph leaves behind
        // is named by them (tests/sanitizers/lsan.supp).
        if (road != "opengl" && environment.contains("ASAN_OPTIONS"))
            environment.insert("ASAN_OPTIONS",
                               environment.value("ASAN_OPTIONS") + ":fast_unwind_on_malloc=0");
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        if (!child.waitForFinished(60000) || child.exitCode() != 0)
            return QStringLiteral("child failed: ") + child.readAllStandardError();
        pane.load(dir.filePath(road + ".png"));
        return QString::fromUtf8(child.readAllStandardOutput()).trimmed();
    }

private slots:
    void bothRoadsShowTheSamePicture()
    {
        QImage gl, chosen;
        QCOMPARE(draw("opengl", gl), QString("opengl"));
        // Under Xvfb OpenGL is a software rasteriser: the viewer takes the software road by itself.
        QCOMPARE(draw("auto", chosen), QString("software"));
        QCOMPARE(chosen.size(), gl.size());
        QVERIFY(gl.width() > 300 && gl.height() > 200);
        int differing = 0;
        for (int y = 0; y < gl.height(); ++y) {
            for (int x = 0; x < gl.width(); ++x)
                differing += !TestMedia::near(gl.pixel(x, y), chosen.pixel(x, y), 24);
        }
        // Only the blocks' edges may differ, where the two scaling filters blend differently.
        QVERIFY2(differing < gl.width() * gl.height() / 100, qPrintable(QString::number(differing)));
        // And the picture is there: the middle is the white square, a corner the red block.
        QCOMPARE(chosen.pixel(chosen.width() / 2, chosen.height() / 2), qRgb(255, 255, 255));
        QVERIFY(qRed(chosen.pixel(5, 5)) > 180 && qGreen(chosen.pixel(5, 5)) < 60);
    }
};

int main(int argc, char *argv[])
{
    const QString road = qEnvironmentVariable("TARN_DRAW_ROAD");
    if (!road.isEmpty())
        return drawPane(argc, argv, road, qEnvironmentVariable("TARN_DRAW_OUTPUT"));
    QGuiApplication app(argc, argv);
    RenderRoadsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_render_roads.moc"
