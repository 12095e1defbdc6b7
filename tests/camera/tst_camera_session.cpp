// The camera session as a user meets it: the real window ("qrc:/main.qml") with the real controller,
// the V4L2 camera library, the player and the frame provider, on the virtual UVC camera, on the suite's
// X display. Each situation is checked by what the window says (the controller's status and state),
// whether the picture is live or marked, and the camera's journal.
//
// A camera's profile is fixed for the life of a process, so every row runs in a process of its own: the
// test starts itself again for that one row, with the row's camera environment and the camera loaded.
#include "TestMedia.h"
#include "VirtualCameraProcess.h"

#include "app/AppGlobals.h"
#include "app/QmlTypes.h"
#include "camera/MainControl.h"
#include "presentation/FameProvider.h"
#include "presentation/RenderRoad.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

#include <linux/videodev2.h>
#include <sys/ioctl.h>

namespace {
constexpr int kNode = 30; // clear of the nodes of the other camera tests (the end-to-end test has 20)
const QByteArray kCapture = "video" + QByteArray::number(kNode);

int count(const QByteArrayList &lines, const QByteArray &line)
{
    return int(std::count(lines.begin(), lines.end(), line));
}

// Descriptors this process holds on a camera node that is plugged in.
int cameraDescriptors()
{
    int held = 0;
    for (const QString &name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System)) {
        v4l2_capability cap;
        held += ::ioctl(name.toInt(), VIDIOC_QUERYCAP, &cap) == 0;
    }
    return held;
}

} // namespace

class CameraSessionTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;
    MainControl *control = nullptr;
    QStringList visited; // every state the session entered, in order

    static bool inRow() { return qEnvironmentVariableIsSet("TARN_SESSION_ROW"); }

    bool reach(const QString &state, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return control->sessionState() == state; }, timeoutMs);
    }
    static bool send(const QByteArray &line) { return VirtualCameraProcess::command(line); }
    QPoint centreOf(const char *name) const
    {
        auto *item = window->findChild<QQuickItem *>(QString::fromLatin1(name));
        return item ? item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint() : QPoint();
    }
    double paneBrightness() const
    {
        auto *pane = window->findChild<QQuickItem *>(QStringLiteral("idCenterPane"));
        const QRectF area = pane->mapRectToScene(QRectF(0, 0, pane->width(), pane->height()));
        // Above the status box of a marked picture: the picture itself.
        return TestMedia::brightness(window->grabWindow(),
                                     area.adjusted(20, 20, -20, -area.height() * 0.6).toRect(), 8);
    }
    void openWindow(const QString &road)
    {
        frameProvider->setRenderRoad(RenderRoad::name(RenderRoad::choose(road)));
        registerQmlTypes();
        engine = std::make_unique<QQmlApplicationEngine>();
        publishWindowObjects(engine->rootContext());
        engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
        QVERIFY(!engine->rootObjects().isEmpty());
        window = qobject_cast<QQuickWindow *>(engine->rootObjects().first());
        control = window->findChild<MainControl *>();
        QVERIFY(window && control);
        visited << control->sessionState();
        connect(control, &MainControl::statusChanged, this, [this] {
            if (visited.last() != control->sessionState())
                visited << control->sessionState();
        });
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

private slots:
    void situation_data()
    {
        QTest::addColumn<QByteArray>("environment"); // the camera's, "NAME=VALUE;..."
        QTest::addColumn<QString>("choice");         // --camera NAME, as the command line sets it
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("state"); // where the session settles first
        QTest::addColumn<QString>("says");  // what the status then says, in part

        const auto row = [](const char *tag, const char *environment, const char *choice, const char *road,
                            const char *state, const char *says) {
            QTest::newRow(tag) << QByteArray(environment) << choice << road << state << says;
        };
        row("no camera", "", "", "opengl", "Searching", "No camera is connected");
        row("no permission", "TARN_VCAM_FAULT=EACCES", "", "opengl", "NoPermission",
            "sudo adduser $USER video");
        row("busy", "", "", "opengl", "Busy", "busy");
        row("warm-up of 6 s", "TARN_VCAM_WARMUP=6000", "", "opengl", "WaitingForFirstPicture",
            "first picture");
        row("unplug, opengl", "", "", "opengl", "Live", "");
        row("unplug, software", "", "", "software", "Live", "");
        row("stall", "", "", "opengl", "Live", "");
        row("other name not found", "TARN_VCAM_PROFILE=generic-thermal", "", "opengl", "Searching",
            "USB Camera: USB Camera (/dev/video30)");
        row("other name chosen", "TARN_VCAM_PROFILE=generic-thermal", "USB Camera", "opengl", "Live", "");
        row("two of one name", "TARN_VCAM_CAMERAS=thermal,thermal", "", "opengl", "Live",
            "2 cameras matched");
        row("cut name", "TARN_VCAM_CARD=Tarn Thermal Imager Core: UVC C", "", "opengl", "Live", "");
        row("commands", "", "", "opengl", "Live", "");
        row("refused commands", "", "", "opengl", "Live", "");
        row("slow controls", "", "", "opengl", "Live", "");
    }

    void situation()
    {
        QFETCH(QByteArray, environment);
        QFETCH(QString, choice);
        QFETCH(QString, road);
        QFETCH(QString, state);
        QFETCH(QString, says);
        const QString row = QString::fromUtf8(QTest::currentDataTag());

        if (!inRow()) {
            // This row, in a process of its own with the camera's environment.
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("TARN_SESSION_ROW"), QStringLiteral("1"));
            for (const QString &pair : QString::fromUtf8(environment).split(';', Qt::SkipEmptyParts))
                env.insert(pair.section('=', 0, 0), pair.section('=', 1));
            // Full stacks under the sanitizers on the software road: what its scene graph leaves behind is
            // named by them (tests/sanitizers/lsan.supp). Not on the other rows: it slows every allocation.
            if (road == "software" && env.contains(QStringLiteral("ASAN_OPTIONS")))
                env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) +
                                                               QStringLiteral(":fast_unwind_on_malloc=0"));
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("situation:") + row});
            QVERIFY(child.waitForFinished(120000));
            QCOMPARE(child.exitStatus(), QProcess::NormalExit);
            QCOMPARE(child.exitCode(), 0);
            return;
        }

        // The camera listens for control lines from the first open of its node.
        if (row != "no permission") {
            QVERIFY(VirtualCameraProcess::listen(kNode));
        }
        if (row == "no camera")
            QVERIFY(send("unplug"));
        QProcess streamer; // another program that streams the camera
        if (row == "busy") {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove(QStringLiteral("TARN_VCAM_CONTROL")); // the control lines stay ours
            streamer.setProcessEnvironment(env);
            streamer.setProcessChannelMode(QProcess::MergedChannels);
            streamer.start(QStringLiteral("v4l2-ctl"),
                           {QStringLiteral("-d"), "/dev/" + kCapture, QStringLiteral("--stream-mmap")});
            QVERIFY(QTest::qWaitFor([&] { return streamer.bytesAvailable() > 0; }, 10000));
        }
        if (!choice.isEmpty())
            uvcCameraDescription = choice;
        const int skip = VirtualCameraProcess::journal().size();
        openWindow(road);
        QVERIFY2(reach(state, 15000), qPrintable(visited.join(' ')));
        QTRY_VERIFY2_WITH_TIMEOUT(control->statusText().contains(says), qPrintable(control->statusText()),
                                  6000);
        QCOMPARE(control->pictureMarked(), state != "Live");
        const auto journal = [skip] {
            return VirtualCameraProcess::journal().mid(skip);
        };

        if (row == "no camera" || row == "no permission") {
            QVERIFY(!reach(QStringLiteral("Live"), 3000));
            QCOMPARE(count(journal(), "open " + kCapture + " ok"), 0);
        } else if (row == "busy") {
            streamer.kill();
            streamer.waitForFinished();
            QVERIFY2(reach(QStringLiteral("Live"), 15000), qPrintable(visited.join(' ')));
        } else if (row == "warm-up of 6 s") {
            QVERIFY2(reach(QStringLiteral("Live"), 12000), qPrintable(visited.join(' ')));
            QVERIFY2(!visited.contains(QStringLiteral("Reconnecting")), qPrintable(visited.join(' ')));
            QCOMPARE(count(journal(), "open " + kCapture + " ok"), 2); // the library's and the player's
        } else if (row.startsWith(QLatin1String("unplug"))) {
            QVERIFY(QTest::qWaitFor([&] { return control->pictureAgeMs() >= 0; }, 5000));
            // The pane shows the picture (it is black before the first frame is drawn).
            QVERIFY(QTest::qWaitFor([&] { return paneBrightness() > 20; }, 5000));
            const double live = paneBrightness();
            QVERIFY(send("unplug"));
            QVERIFY(QTest::qWaitFor([&] { return control->pictureMarked(); }, 3000));
            QVERIFY2(control->pictureAgeMs() <= 1500, qPrintable(QString::number(control->pictureAgeMs())));
            QTRY_VERIFY2(paneBrightness() < live * 0.6,
                         qPrintable(QStringLiteral("%1 %2").arg(paneBrightness()).arg(live)));
            QVERIFY(send("plug"));
            QVERIFY2(reach(QStringLiteral("Live"), 15000), qPrintable(visited.join(' ')));
        } else if (row == "stall") {
            QVERIFY(send("stall"));
            QVERIFY2(reach(QStringLiteral("Reconnecting"), 8000), qPrintable(visited.join(' ')));
            QVERIFY(control->pictureMarked());
            QVERIFY(send("resume"));
            QVERIFY2(reach(QStringLiteral("Live"), 15000), qPrintable(visited.join(' ')));
            QVERIFY(visited.indexOf(QStringLiteral("PictureLost")) > 0);
        } else if (row == "other name not found") {
            QVERIFY(control->statusText().contains(QStringLiteral("--camera")));
        } else if (row == "commands") {
            for (const char *button : {"btnRecord", "btnPalette", "btnTrack", "btnFFC"})
                QTest::mouseClick(window, Qt::LeftButton, {}, centreOf(button));
            const QByteArrayList sent = {"contrast 0", "contrast 5", "contrast 2", "contrast 4"};
            QTRY_COMPARE(journal().mid(journal().indexOf("contrast 0")).mid(0, 4), sent);
            // The controller going first, before the window ends the session: it takes the capture and
            // the camera with it.
            QVERIFY(cameraDescriptors() > 0);
            delete control;
            QCOMPARE(cameraDescriptors(), 0);
        } else if (row == "two of one name") {
            // The picture and the commands come from the lowest node; the other is never opened.
            QTest::mouseClick(window, Qt::LeftButton, {}, centreOf("btnPalette"));
            QTRY_VERIFY(journal().contains("contrast 5"));
            QCOMPARE(count(journal(), "open " + kCapture + " ok"), 2);
            QCOMPARE(count(journal(), "open video" + QByteArray::number(kNode + 2) + " ok"), 0);
        } else if (row == "refused commands") {
            QVERIFY(send("control-fail EIO"));
            QTest::mouseClick(window, Qt::LeftButton, {}, centreOf("btnPalette"));
            QTRY_VERIFY(control->statusText().contains(QStringLiteral("not accepted")));
            QCOMPARE(control->sessionState(), QStringLiteral("Live"));
            QVERIFY(!control->pictureMarked());
            QVERIFY(send("control-ok"));
            QTRY_VERIFY_WITH_TIMEOUT(control->statusText().isEmpty(), MainControl::kNoticeMs + 2000);
        } else if (row == "slow controls") {
            // Each control write takes 3 s on the camera's side; the window's thread never waits for one:
            // the palette click and a whole drag of the zoom are done while the palette is still being
            // written (the camera's journal has a write once it is done).
            QVERIFY(send("slow-write 3000"));
            QTest::mouseClick(window, Qt::LeftButton, {}, centreOf("btnPalette"));
            // The camera keeps its zoom between processes, and the slider shows it: drag towards the far end.
            auto *slider = window->findChild<QObject *>(QStringLiteral("control"));
            const double before = slider->property("value").toDouble();
            const QPoint handle = centreOf("handle");
            const QPoint step(0, before < 2.5 ? 6 : -6); // down the upright slider is a larger zoom
            QTest::mousePress(window, Qt::LeftButton, {}, handle);
            for (int n = 1; n <= 20; ++n)
                QTest::mouseMove(window, handle + n * step);
            QTest::mouseRelease(window, Qt::LeftButton, {}, handle + 20 * step);
            QVERIFY2(!journal().contains("contrast 5"), journal().join(", ").constData());
            const int last = qFloor(slider->property("value").toDouble() * 10 + 0.5);
            QVERIFY2(qAbs(last - qFloor(before * 10 + 0.5)) > 10, qPrintable(QString::number(last)));
            const QByteArray wanted = "saturation " + QByteArray::number(last);
            QVERIFY2(QTest::qWaitFor([&] { return journal().contains(wanted); }, 15000),
                     (wanted + " not in: " + journal().join(", ")).constData());
            // The palette, then at most the zoom that was on its way and the last one.
            QByteArrayList zooms;
            for (const QByteArray &line : journal()) {
                if (line.startsWith("saturation"))
                    zooms << line;
            }
            QVERIFY2(zooms.size() <= 2 && zooms.last() == wanted, zooms.join(", ").constData());
            QCOMPARE(journal().value(journal().indexOf("contrast 5") + 1).left(10), QByteArray("saturation"));
        }

        // The controller goes with the window: no capture and no camera left open.
        engine.reset();
        QCOMPARE(cameraDescriptors(), 0);
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("TARN_SESSION_ROW"))
        VirtualCameraProcess::load(argv, kNode);
    QGuiApplication app(argc, argv);
    CameraSessionTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_camera_session.moc"
