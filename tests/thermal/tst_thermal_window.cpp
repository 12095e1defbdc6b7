// A split thermal camera through the real window: the real controller, player and temperature reader
// on the virtual camera's generic-thermal profile (node 110), the window document on the suite's X
// display, driven by keys and clicks. Checked by what the window shows and what the reader read.
#include "TestMedia.h"
#include "VirtualCameraProcess.h"

#include "app/AppGlobals.h"
#include "app/QmlTypes.h"
#include "camera/MainControl.h"
#include "presentation/FameProvider.h"
#include "thermal/ThermalReader.h"
#include "ThermalScene.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

constexpr int kNode = 110;

class ThermalWindowTest : public QObject
{
    Q_OBJECT

    QQmlApplicationEngine engine;
    QQuickWindow *window = nullptr;
    MainControl *control = nullptr;
    ThermalReader *reader = nullptr;
    QQuickItem *picture = nullptr;

    // The window's point over the middle of picture pixel P.
    QPointF onScreen(QPoint p) const
    {
        return picture->mapToScene(QPointF((p.x() + 0.5) * picture->width() / reader->pictureWidth(),
                                           (p.y() + 0.5) * picture->height() / reader->pictureHeight()));
    }
    // The picture pixel under marker NAME's centre, with the picture magnified ZOOM times about its
    // middle; (-1, -1) when the marker is hidden.
    QPoint markedPixel(const char *name, double zoom) const
    {
        auto *marker = window->findChild<QQuickItem *>(QString::fromLatin1(name));
        if (!marker->isVisible())
            return QPoint(-1, -1);
        const QPointF middle(picture->width() / 2, picture->height() / 2);
        const QPointF at = (picture->mapFromItem(marker, QPointF(0, 0)) - middle) / zoom + middle;
        return QPoint(int(at.x() * reader->pictureWidth() / picture->width()),
                      int(at.y() * reader->pictureHeight() / picture->height()));
    }
    QImage shownPicture() const
    {
        const QRectF area = picture->mapRectToScene(QRectF(0, 0, picture->width(), picture->height()));
        return window->grabWindow()
            .copy(area.toRect())
            .scaled(reader->pictureWidth(), reader->pictureHeight());
    }

private slots:
    void initTestCase()
    {
        uvcCameraDescription = QStringLiteral("USB Camera");
        registerQmlTypes();
        publishWindowObjects(engine.rootContext());
        engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
        window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        QVERIFY(window);
        control = window->findChild<MainControl *>();
        reader = control->thermalReader();
        picture = window->findChild<QQuickItem *>(QStringLiteral("idPicture"));
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_VERIFY_WITH_TIMEOUT(control->sessionState() == "Live" && reader->active(), 20000);
    }

    // The pane shows the top half only, drawn from the temperatures: the reader's 256x192 picture, not
    // the camera's 256x384 frame with its block of values under it.
    void showsThePictureOnly()
    {
        QCOMPARE(frameProvider->frameSize(), QSize(256, 192));
        QTRY_VERIFY(TestMedia::difference(shownPicture(), frameProvider->latestImage()) < 12);
    }

    // The readings are the scene's, and the markers sit on the pixels they name, the picture stretched
    // or in its own shape, magnified or not (a marker the zoom puts outside is hidden).
    void readingsAndMarkers_data()
    {
        QTest::addColumn<int>("zoomSteps"); // presses of +, each 0.1X
        QTest::addColumn<bool>("fit");
        QTest::newRow("1.0X, stretched") << 0 << false;
        QTest::newRow("2.0X, its own shape") << 10 << true;
    }

    void readingsAndMarkers()
    {
        QFETCH(int, zoomSteps);
        QFETCH(bool, fit);
        if (picture->property("fitted").toBool() != fit)
            QTest::keyClick(window, Qt::Key_A);
        QTRY_COMPARE(picture->property("fitted").toBool(), fit);
        for (int i = 0; i < zoomSteps; ++i)
            QTest::keyClick(window, Qt::Key_Plus);
        const double zoom = 1 + zoomSteps / 10.0;
        QTRY_COMPARE(control->viewerZoom(), zoom);
        QTRY_COMPARE(qRound(reader->minCelsius() * 10), qRound(ThermalScene::SkyCelsius * 10));
        QVERIFY2(qRound(reader->maxCelsius() * 10) == qRound(ThermalScene::EngineCelsius * 10) ||
                     qRound(reader->maxCelsius() * 10) == 600, // the lamp, when a person hides the engine
                 qPrintable(QString::number(reader->maxCelsius())));
        // A spot inside the magnified part, as well as the coldest and hottest pixels.
        const QPoint spot(reader->pictureWidth() / 2 + 30, reader->pictureHeight() / 2 + 20);
        reader->pinSpot(spot.x(), spot.y());
        QTRY_VERIFY(reader->spotPinned());
        for (const auto &[name, point] :
             {std::pair{"thermalMin", reader->minPoint()}, std::pair{"thermalMax", reader->maxPoint()},
              std::pair{"thermalSpot", spot}}) {
            const QPoint marked = markedPixel(name, zoom);
            const QPointF offCentre =
                QPointF(point) - QPointF(reader->pictureWidth(), reader->pictureHeight()) / 2;
            if (qAbs(offCentre.x()) * zoom > reader->pictureWidth() / 2 ||
                qAbs(offCentre.y()) * zoom > reader->pictureHeight() / 2) {
                QCOMPARE(marked, QPoint(-1, -1));
                continue;
            }
            QVERIFY2(qAbs(marked.x() - point.x()) <= 1 && qAbs(marked.y() - point.y()) <= 1,
                     qPrintable(QStringLiteral("%1 at %2,%3 for %4,%5")
                                    .arg(name)
                                    .arg(marked.x())
                                    .arg(marked.y())
                                    .arg(point.x())
                                    .arg(point.y())));
        }
        reader->clearSpot();
        for (int i = 0; i < zoomSteps; ++i)
            QTest::keyClick(window, Qt::Key_Minus);
        QTRY_COMPARE(control->viewerZoom(), 1.0);
    }

    // A click on a person pins a spot that reads skin temperature; Esc removes it.
    void pinnedSpotOnAPerson()
    {
        QTemporaryDir dir;
        QVERIFY(reader->saveTemperatures(dir.filePath("t")));
        QFile csv(dir.filePath("t.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csv.readAll().split('\n');
        // The middle of the widest run of skin on a row: a body, not an edge.
        QPoint person(-1, -1);
        int widest = 0;
        for (int y = 0; y < rows.size(); ++y) {
            const QList<QByteArray> values = rows[y].split(',');
            for (int x = 0, run = 0; x < values.size(); ++x) {
                run = qAbs(values[x].toDouble() - ThermalScene::SkinCelsius) < 0.05 ? run + 1 : 0;
                if (run > widest) {
                    widest = run;
                    person = QPoint(x - run / 2, y);
                }
            }
        }
        QVERIFY2(widest >= 3, "no person in the picture");
        QTest::mouseClick(window, Qt::LeftButton, {}, onScreen(person).toPoint());
        QTRY_VERIFY(reader->spotPinned() && reader->spotPoint() == person);
        QTRY_COMPARE(qRound(reader->spotCelsius() * 10), qRound(ThermalScene::SkinCelsius * 10));
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!reader->spotPinned());
    }

    // Record, tracking and flat-field stay in the viewer: a clip, the box round the hottest spot, a
    // notice. The camera, which refuses control writes, is sent none: the window never says one was
    // not accepted.
    void commandsStayInTheViewer()
    {
        bool refused = false;
        connect(control, &MainControl::statusChanged, this,
                [&] { refused = refused || control->statusText().contains(QStringLiteral("not accepted")); });
        QTest::keyClick(window, Qt::Key_3);
        QTRY_VERIFY(window->findChild<QQuickItem *>(QStringLiteral("thermalTrackingBox"))->isVisible());
        QTest::keyClick(window, Qt::Key_1);
        QTRY_VERIFY(control->clipRecording());
        QTest::keyClick(window, Qt::Key_1);
        QTRY_VERIFY(!control->clipRecording());
        QTest::keyClick(window, Qt::Key_4);
        QTRY_VERIFY(control->statusText().contains(QStringLiteral("does not take")));
        QVERIFY(!refused);
        disconnect(control, &MainControl::statusChanged, this, nullptr);
    }

    // The palette key recolours the picture in the viewer; U turns the readings to °F.
    void paletteAndUnit()
    {
        const QImage before = shownPicture();
        const int palette = reader->palette();
        QTest::keyClick(window, Qt::Key_2);
        QTRY_COMPARE(reader->palette(), (palette + 1) % ThermalReader::PaletteCount);
        QTRY_VERIFY(TestMedia::difference(shownPicture(), before) > 40);
        auto *text = window->findChild<QQuickItem *>(QStringLiteral("thermalReadingsText"));
        QTest::keyClick(window, Qt::Key_U);
        QTRY_VERIFY(text->property("text").toString().contains(QStringLiteral("min 17.6 °F")));
        QTest::keyClick(window, Qt::Key_U);
        QTRY_VERIFY(text->property("text").toString().contains(QStringLiteral("min -8.0 °C")));
    }
};

int main(int argc, char **argv)
{
    qputenv("TARN_VCAM_PROFILE", "generic-thermal");
    VirtualCameraProcess::load(argv, kNode);
    // Settings, snapshots and clips in a home of the run's own.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    QGuiApplication app(argc, argv);
    ThermalWindowTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_thermal_window.moc"
