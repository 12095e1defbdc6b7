// tarn-camera-bench [SECONDS]: runs the camera session on the virtual UVC camera (it loads it into
// itself) with no window and prints the time from the camera capturing a frame to the frame provider
// presenting it (p50, p99), the time from the start of the session to the first presented frame (the
// session looks for the camera at once, as in the viewer), the time from the last frame before an
// unplug to the session marking the picture as no longer live, and the time from a replug to the
// picture being back: a third of the way in the camera is unplugged, five seconds later (once the
// watchdog has closed the session) plugged back, as the next node.
#include "StampSurface.h"
#include "VirtualCameraBench.h"

#include "app/AppGlobals.h"
#include "camera/MainControl.h"
#include "media/FFmpegThread.h"
#include "presentation/FameProvider.h"

#include "app/QmlTypes.h"
#include "presentation/RenderRoad.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickView>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <vector>

using namespace VirtualCameraBench;

namespace {
// The picture pane on either presentation road, as the window has it.
const char *const kPane = R"(
import QtQuick 2.12
import QtMultimedia 5.12
Rectangle {
    color: "black"
    VideoOutput {
        anchors.fill: parent
        fillMode: VideoOutput.Stretch
        visible: frameProvider.renderRoad !== "software"
        source: visible ? frameProvider : null
    }
    Loader {
        anchors.fill: parent
        active: frameProvider.renderRoad === "software"
        source: "qrc:/SoftwareVideoPane.qml"
    }
}
)";
} // namespace

int main(int argc, char *argv[])
{
    // A window needs a GUI application; the surface alone runs without a display.
    bool window = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if ((argument == "--road" && i + 1 < argc && QByteArray(argv[i + 1]) != "none") ||
            (argument.startsWith("--road=") && argument != "--road=none"))
            window = true;
    }
    if (window)
        RenderRoad::drawWithoutDelay(); // as the viewer does
    const std::unique_ptr<QCoreApplication> application(window ? new QGuiApplication(argc, argv)
                                                               : new QCoreApplication(argc, argv));
    QCoreApplication &app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("tarn-camera-bench"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARN_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the camera session on the virtual UVC camera and prints the camera-to-surface latency, "
        "the time to the first picture and the time from a replug to the picture."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("seconds"),
                                 QStringLiteral("How long to run (10 or more; 12)."));
    const QCommandLineOption roadOption(
        QStringLiteral("road"),
        QStringLiteral("none (default): to the frame provider's surface, without a window; opengl or "
                       "software: to the screen, through a 640x512 window on that presentation road."),
        QStringLiteral("road"), QStringLiteral("none"));
    parser.addOption(roadOption);
    parser.process(app);
    const QString road = parser.value(roadOption);
    if (road != QLatin1String("none") && road != QLatin1String("opengl") &&
        road != QLatin1String("software")) {
        QTextStream(stderr) << "tarn-camera-bench: --road takes none, opengl or software\n";
        return 2;
    }
    const QStringList positional = parser.positionalArguments();
    bool isNumber = true;
    const int seconds = positional.isEmpty() ? 12 : positional.first().toInt(&isNumber);
    if (!isNumber || seconds < 10 || positional.size() > 1) {
        QTextStream(stderr) << "tarn-camera-bench: SECONDS is a whole number of 10 or more\n";
        return 2;
    }
    // The virtual camera, stamping its capture times, loaded into this very program.
    load(argv, "tarn-camera-bench");
    QTextStream out(stdout);
    qInstallMessageHandler(quietHandler);

    // For every presented frame, how long ago the camera captured it.
    std::vector<double> latenciesUs;
    qint64 firstPresentNs = -1;
    qint64 plugNs = -1;
    qint64 backNs = -1;
    qint64 unplugNs = -1;
    qint64 lastBeforeUnplugNs = -1;
    qint64 markedNs = -1;
    StampSurface surface;
    surface.onPresent = [&](qint64 presentedNs, qint64 capturedNs) {
        if (firstPresentNs < 0)
            firstPresentNs = presentedNs;
        if (capturedNs > 0)
            latenciesUs.push_back((presentedNs - capturedNs) / 1000.0);
        if (plugNs > 0 && backNs < 0)
            backNs = presentedNs;
        if (markedNs < 0)
            lastBeforeUnplugNs = presentedNs; // the last one before the picture was marked
    };
    // Through a window: the latest image when the scene graph takes it, then the time it reached the
    // screen (its buffers swapped).
    std::unique_ptr<QQuickView> view;
    qint64 syncedStamp = -1;
    if (road == QLatin1String("none")) {
        frameProvider->setVideoSurface(&surface);
    } else {
        frameProvider->setRenderRoad(RenderRoad::name(RenderRoad::choose(road)));
        frameProvider->setImageConsumer(true);
        registerQmlTypes();
        view = std::make_unique<QQuickView>();
        view->rootContext()->setContextProperty(QStringLiteral("frameProvider"), frameProvider);
        view->setResizeMode(QQuickView::SizeRootObjectToView);
        QQmlComponent pane(view->engine());
        pane.setData(kPane, QUrl());
        view->setContent(QUrl(), &pane, pane.create(view->rootContext()));
        view->resize(640, 512);
        view->show();
        QObject::connect(
            view.get(), &QQuickWindow::beforeSynchronizing, view.get(),
            [&syncedStamp] {
                const QImage latest = frameProvider->latestImage();
                syncedStamp = latest.isNull() ? -1 : StampSurface::stampOf(latest);
            },
            Qt::DirectConnection);
        QObject::connect(
            view.get(), &QQuickWindow::frameSwapped, view.get(),
            [&] {
                if (syncedStamp > 0)
                    surface.onPresent(steadyNs(), syncedStamp);
                syncedStamp = -1;
            },
            Qt::DirectConnection);
    }

    auto control = std::make_unique<MainControl>();
    const qint64 sessionStartNs = steadyNs();
    QMetaObject::invokeMethod(control.get(), "slotStartUVCConnect", Qt::DirectConnection);
    QObject::connect(control.get(), &MainControl::statusChanged, &app, [&] {
        if (unplugNs > 0 && markedNs < 0 && control->pictureMarked())
            markedNs = steadyNs();
    });
    QTimer::singleShot(seconds * 1000 / 3, &app, [&] {
        unplugNs = steadyNs();
        send("unplug");
    });
    QTimer::singleShot(seconds * 1000 / 3 + 5000, &app, [&plugNs] {
        plugNs = steadyNs();
        send("plug");
    });
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    removeControl();
    QMetaObject::invokeMethod(control.get(), "slotEndUVCConnect", Qt::DirectConnection);
    control.reset();
    view.reset();
    frameProvider->setVideoSurface(nullptr);

    if (road != QLatin1String("none"))
        out << "road " << road << " (to the screen)\n";
    out << "frames presented " << latenciesUs.size() << " in " << seconds << " s\n";
    out << "capture-to-present p50 " << QString::number(percentile(latenciesUs, 50) / 1000.0, 'f', 2)
        << " ms\n";
    out << "capture-to-present p99 " << QString::number(percentile(latenciesUs, 99) / 1000.0, 'f', 2)
        << " ms\n";
    if (firstPresentNs > 0)
        out << "session start to first frame "
            << QString::number((firstPresentNs - sessionStartNs) / 1e6, 'f', 1) << " ms\n";
    else
        out << "session start to first frame: no frame\n";
    if (markedNs > 0 && lastBeforeUnplugNs > 0)
        out << "picture lost to marked " << QString::number((markedNs - lastBeforeUnplugNs) / 1e6, 'f', 1)
            << " ms (unplug to marked " << QString::number((markedNs - unplugNs) / 1e6, 'f', 1) << " ms)\n";
    else
        out << "picture lost to marked: never marked\n";
    if (backNs > 0)
        out << "replug to picture back " << QString::number((backNs - plugNs) / 1e6, 'f', 1) << " ms\n";
    else
        out << "replug to picture back: no picture\n";
    return latenciesUs.empty() ? 1 : 0;
}
