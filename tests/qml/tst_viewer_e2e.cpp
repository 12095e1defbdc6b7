// The viewer driven as a person would, on the virtual UVC camera: tarn-player-sim (the viewer with the
// camera library found beside it loaded into it) on the suite's X display, real mouse events through xdotool,
// screenshots through ImageMagick's import, the camera's cable pulled and plugged back through its control
// FIFO. The screenshots are kept in the build tree as the test's output files.
#include <QImage>
#include <QPainter>
#include <QtTest>

#include "TestMedia.h"

#include <cmath>

namespace {
const QString titlePrefix = QStringLiteral("Tarn Player V1.1 - SN: ");
const QString serial = QStringLiteral("TVE2E0042");

QString run(const QString &program, const QStringList &args, int timeoutMs = 10000)
{
    QProcess process;
    process.start(program, args);
    // One that hangs answers nothing, and is killed as the process object goes.
    return process.waitForFinished(timeoutMs) ? QString::fromUtf8(process.readAllStandardOutput()).trimmed()
                                              : QString();
}

QString xdotool(const QStringList &args)
{
    return run(QStringLiteral("xdotool"), args);
}

// Waits on the wall clock: the conditions run programs, and QTRY_* would count only its own steps.
template <typename F> bool waitFor(int timeoutMs, F condition)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

using TestMedia::brightness;
using TestMedia::difference;

// Share of every 4th pixel of the area, both ways, that is not black.
double litShare(const QImage &image, const QRect &area)
{
    int lit = 0, n = 0;
    for (int y = area.top(); y <= area.bottom(); y += 4) {
        for (int x = area.left(); x <= area.right(); x += 4, ++n)
            lit += qGray(image.pixel(x, y)) > 12;
    }
    return n ? double(lit) / n : 0;
}

// The picture with the pane's content magnified by factor about the pane's middle.
QImage magnified(const QImage &image, const QRect &pane, double factor)
{
    const QSize part(qRound(pane.width() / factor), qRound(pane.height() / factor));
    const QRect middle(pane.center() - QPoint(part.width() / 2, part.height() / 2), part);
    QImage result = image.copy();
    QPainter(&result).drawImage(
        pane, image.copy(middle).scaled(pane.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return result;
}

// The camera's journal, a line each.
QStringList journalLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// The zoom the last saturation write of the journal sent, in tenths; 10 (1.0X) when none was sent.
int lastZoom(const QStringList &journal)
{
    for (int i = journal.size() - 1; i >= 0; --i) {
        if (journal[i].startsWith("saturation "))
            return journal[i].section(' ', 1).toInt();
    }
    return 10;
}

// What ffprobe finds in a clip: width, height, fps, frames (decoded and counted), duration (s); h264
// only (an empty map otherwise).
QMap<QString, double> probe(const QString &file)
{
    const QString out = TestMedia::probeVideo(
        file, "stream=codec_name,width,height,r_frame_rate,nb_read_frames:format=duration");
    QMap<QString, double> found;
    for (const QString &line : out.split('\n')) {
        const QString key = line.section('=', 0, 0), value = line.section('=', 1);
        found[key == "r_frame_rate"     ? "fps"
              : key == "nb_read_frames" ? "frames"
                                        : key] =
            key == "r_frame_rate" ? value.section('/', 0, 0).toDouble() / value.section('/', 1).toDouble()
                                  : value.toDouble();
    }
    return out.contains("codec_name=h264") ? found : QMap<QString, double>();
}

// The last 64 bytes of FILE.
QByteArray tail(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() < 64 || !f.seek(f.size() - 64))
        return {};
    return f.read(64);
}

// The files in DIR whose names end in SUFFIX.
QStringList filesIn(const QString &dir, const QString &suffix)
{
    QStringList names = QDir(dir).entryList({"*" + suffix}, QDir::Files, QDir::Name);
    for (QString &name : names)
        name = dir + '/' + name;
    return names;
}

} // namespace

class tst_viewer_e2e : public QObject
{
    Q_OBJECT

    QString viewerPath;
    QString shotDir;
    QTemporaryDir controlDir;
    QProcess viewer;
    QProcess windowManager;
    QString window;

    QImage shoot(const QString &name)
    {
        const QString path = shotDir + '/' + name + ".png";
        QFile::remove(path);
        run(QStringLiteral("import"), {"-window", window, "-quality", "10", path},
            30000); // fast zlib level 1
        return QImage(path).convertToFormat(QImage::Format_RGB32);
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display (the suite runs inside xvfb-run)");
        for (const char *tool : {"xdotool", "xprop", "import", "openbox"})
            QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(), tool);
        const QString binaryDir = qEnvironmentVariable("TARN_BINARY_DIR");
        viewerPath = binaryDir + "/bin/tarn-player-sim";
        QVERIFY2(QFileInfo(viewerPath).isExecutable(), qPrintable(viewerPath));
        shotDir = binaryDir + "/test-output/tst_viewer_e2e";
        QVERIFY(QDir().mkpath(shotDir));
        // A window manager, as on any desktop, so that the window's wish to be maximised is carried out.
        // It is ready when the window the root names as the window manager's is openbox's (one that an
        // earlier window manager left named is gone). On a loaded machine openbox now and then quits at
        // once without a word: then it is started again.
        const auto wmName = [] {
            const QString id = run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).section(' ', -1);
            return run("xprop", {"-id", id, "_NET_WM_NAME"});
        };
        const auto ready = [&] {
            return windowManager.state() == QProcess::Running && wmName().contains("Openbox");
        };
        windowManager.setProcessChannelMode(QProcess::MergedChannels);
        for (int attempt = 0; attempt < 3 && !ready(); ++attempt) {
            windowManager.start(QStringLiteral("openbox"), {"--sm-disable"});
            QVERIFY2(windowManager.waitForStarted(10000), qPrintable(windowManager.errorString()));
            waitFor(30000, [&] { return windowManager.state() == QProcess::NotRunning || ready(); });
        }
        QVERIFY2(ready(), qPrintable(wmName() + windowManager.readAll()));
    }
    void cleanupTestCase()
    {
        viewer.kill();
        viewer.waitForFinished(10000);
        windowManager.kill();
        windowManager.waitForFinished(5000);
    }

    // Starts the viewer on the virtual camera at NODE, at home in HOME (its settings, pictures and
    // videos), and finds its window.
    bool launch(const QString &node, const QString &home, const QString &journal = QString())
    {
        // A camera fresh from the box (white-hot, 1.0X), whatever an earlier run left it at.
        QFile::remove("/dev/shm/tarn-vcam-video" + node);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TARN_VCAM_NODE", node);
        env.insert("TARN_VCAM_CONTROL", controlDir.filePath("control"));
        env.insert("TARN_VCAM_SERIAL", serial);
        if (!journal.isEmpty())
            env.insert("TARN_VCAM_JOURNAL", journal);
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("QT_LOGGING_RULES", "tarn.media.interrupt.debug=false");
        // Full stacks under the sanitizers: what the software scene graph leaves behind is named by them
        // (tests/sanitizers/lsan.supp).
        if (env.contains("ASAN_OPTIONS"))
            env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":fast_unwind_on_malloc=0");
        viewer.setProcessEnvironment(env);
        viewer.setProcessChannelMode(QProcess::ForwardedChannels);
        viewer.start(viewerPath, QStringList());
        if (!viewer.waitForStarted(10000))
            return false;
        // Found by process id: other windows may share the title.
        const QString pid = QString::number(viewer.processId());
        return waitFor(20000, [&] {
            window = xdotool({"search", "--all", "--pid", pid, "--name", titlePrefix}).section('\n', 0, 0);
            return !window.isEmpty();
        });
    }

    void key(const QString &keys)
    {
        QStringList args{"windowactivate", "--sync", window, "key", "--clearmodifiers"};
        xdotool(args + keys.split(' '));
    }

    bool fullScreen() { return run("xprop", {"-id", window, "_NET_WM_STATE"}).contains("FULLSCREEN"); }

    void viewer_showsCameraAnswersClicksSurvivesReplugAndExitsCleanly()
    {
        // The window comes up maximised: it asks for it, and the window manager gives it the whole
        // screen but for its title bar.
        QTemporaryDir home;
        QVERIFY(launch("20", home.path()));
        const QString state = run(QStringLiteral("xprop"), {"-id", window, "_NET_WM_STATE"});
        QVERIFY2(state.contains("_NET_WM_STATE_MAXIMIZED_VERT") &&
                     state.contains("_NET_WM_STATE_MAXIMIZED_HORZ"),
                 qPrintable(state));
        const QStringList screen = xdotool({"getdisplaygeometry"}).split(' ');
        QCOMPARE(screen.size(), 2);

        // Within a few seconds the title carries the camera's serial number.
        QVERIFY(waitFor(30000, [&] { return xdotool({"getwindowname", window}) == titlePrefix + serial; }));

        // ... and the live picture covers the black centre pane, corners included, in a window that fills
        // the screen.
        QImage first;
        QRect pane;
        QVERIFY(waitFor(30000, [&] {
            first = shoot(QStringLiteral("1-live"));
            pane = QRect(140, 0, first.width() - 280, first.height());
            return first.width() == screen[0].toInt() && first.height() > screen[1].toInt() - 80 &&
                   litShare(first, pane) > 0.5 &&
                   litShare(first, QRect(pane.topLeft() + QPoint(4, 4), QSize(40, 40))) > 0.5 &&
                   litShare(first, QRect(pane.bottomRight() - QPoint(44, 44), QSize(40, 40))) > 0.5;
        }));

        // How much the picture changes by itself between two looks: the bar for the commands' effects.
        const QImage second = shoot(QStringLiteral("2-live-again"));
        const double bar = 3 * difference(first, second, pane) + 10;

        // A click on the palette button recolours the picture.
        xdotool({"mousemove", "--window", window, "70", "230", "click", "1"});
        QImage recoloured;
        QVERIFY(waitFor(10000, [&] {
            recoloured = shoot(QStringLiteral("3-palette"));
            return difference(second, recoloured, pane) > bar;
        }));

        // Ten presses of + zoom to 2.0X: the picture before looks like the one after magnified twice
        // about its middle, much more than unmagnified.
        key(QString("plus ").repeated(10).trimmed());
        const QImage expected = magnified(recoloured, pane, 2.0);
        QImage zoomed;
        QVERIFY(waitFor(10000, [&] {
            zoomed = shoot(QStringLiteral("4-zoom"));
            return difference(expected, zoomed, pane) < 0.6 * difference(recoloured, zoomed, pane);
        }));

        // The cable pulled and plugged back: the camera comes back as the next node, where the search
        // finds it once the watchdog has closed the silent session; a fresh camera, white-hot at 1.0X,
        // live again (as bright as the first look: the stopped picture meanwhile is dimmed).
        QFile control(controlDir.filePath("control")); // made by the camera, which keeps it open to read
        QVERIFY(control.open(QIODevice::WriteOnly | QIODevice::ExistingOnly));
        QCOMPARE(control.write("unplug\nplug\n"), 12);
        control.close();
        QImage back;
        QVERIFY(waitFor(20000, [&] {
            back = shoot(QStringLiteral("5-plugged-back"));
            return litShare(back, pane) > 0.5 && difference(zoomed, back, pane) > bar &&
                   brightness(back, pane) > 0.8 * brightness(first, pane);
        }));

        // Closing the window through the window manager (Alt+F4) ends the session and the program exits
        // with 0.
        xdotool({"windowactivate", "--sync", window, "key", "--clearmodifiers", "alt+F4"});
        QVERIFY(viewer.waitForFinished(30000));
        QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(viewer.exitCode(), 0);
    }

    // The keys and the menu, each row by its effect: what the camera was sent (its journal), the
    // files written, the window's state. One viewer runs through the rows, in order; the last quits it.
    void keys_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("effect");
        QTest::addColumn<QString>("expected");
        const struct
        {
            const char *tag, *keys, *effect, *expected;
        } rows[] = {
            {"1", "1", "journal", "contrast 0"},
            {"2", "2", "journal", "contrast 5"},
            {"3", "3", "journal", "contrast 2"},
            {"4", "4", "journal", "contrast 4"},
            {"+", "plus", "zoom", "1"},
            {"-", "minus", "zoom", "-1"},
            {"wheel up", "", "zoom", "1"},
            {"S", "s", "snapshot", ""},
            {"menu: snapshot", "Menu Down Return", "snapshot", ""},
            {"R: a clip", "r", "clip", "start"},
            {"R: the clip ends", "r", "clip", "end"},
            {"F11", "F11", "full screen", "1"},
            {"Esc", "Escape", "full screen", "0"},
            {"menu: full screen", "Menu Down Down Down Return", "full screen", "1"},
            {"Ctrl+Q", "ctrl+q", "exit", "0"},
            // Started again, as the last run left it.
            {"remembered", "", "full screen", "1"},
        };
        for (const auto &row : rows)
            QTest::newRow(row.tag) << QString(row.keys) << QString(row.effect) << QString(row.expected);
    }

    void keys()
    {
        QFETCH(QString, keys);
        QFETCH(QString, effect);
        QFETCH(QString, expected);
        static QTemporaryDir home;
        const QString journal = home.filePath("journal");
        const QString pictures = home.filePath("Pictures/Tarn Player");
        if (viewer.state() != QProcess::Running) {
            QVERIFY(launch("22", home.path(), journal));
            // Live: the camera streams to the viewer.
            QVERIFY(waitFor(30000, [&] {
                return xdotool({"getwindowname", window}) == titlePrefix + serial;
            }));
        }
        const QStringList before = journalLines(journal);
        const int pngs = filesIn(pictures, ".png").size();
        const QString videos = home.filePath("Videos/Tarn Player");
        const QStringList clips = filesIn(videos, ".mp4");

        if (QTest::currentDataTag() == QLatin1String("wheel up")) {
            xdotool({"mousemove", "--window", window, "600", "400", "click", "4"});
        } else if (!keys.isEmpty()) {
            key(keys);
        }

        if (effect == "journal") {
            QVERIFY(
                waitFor(10000, [&] { return journalLines(journal).mid(before.size()).contains(expected); }));
        } else if (effect == "zoom") {
            const int wanted = lastZoom(before) + expected.toInt();
            QVERIFY(waitFor(10000, [&] { return lastZoom(journalLines(journal)) == wanted; }));
        } else if (effect == "snapshot") {
            QStringList files;
            QVERIFY(waitFor(10000, [&] { return (files = filesIn(pictures, ".png")).size() == pngs + 1; }));
            // The camera's own resolution, and the picture the window shows (which moves on a little).
            const QImage saved = QImage(files.last()).convertToFormat(QImage::Format_RGB32);
            QCOMPARE(saved.size(), QSize(640, 512));
            // Compared small, where the sensor's noise averages out, and against the same picture turned
            // left to right: the people walk on meanwhile, but the street's own shape shows.
            const QImage shot = shoot("keys-snapshot");
            const QRect pane(140, 0, shot.width() - 280, shot.height());
            const auto small = [](const QImage &image) {
                return image.scaled(80, 64, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            };
            const QRect all(0, 0, 80, 64);
            const QImage shown = small(shot.copy(pane));
            const double off = difference(small(saved), shown, all);
            const double turned = difference(small(saved.mirrored(true, false)), shown, all);
            QVERIFY2(off < 0.7 * turned, qPrintable(QStringLiteral("%1 against %2").arg(off).arg(turned)));
        } else if (effect == "clip" && expected == "start") {
            // A new clip grows past a second of pictures while it runs.
            QVERIFY(waitFor(10000, [&] { return filesIn(videos, ".mp4").size() == clips.size() + 1; }));
            QVERIFY(
                waitFor(15000, [&] { return probe(filesIn(videos, ".mp4").last()).value("frames") >= 30; }));
        } else if (effect == "clip") {
            // Ended: the index at its end is written, and the whole file reads as the camera's picture.
            QCOMPARE(clips.size(), 1);
            QVERIFY(waitFor(10000, [&] { return tail(clips.last()).contains("mfro"); }));
            const QMap<QString, double> found = probe(clips.last());
            QCOMPARE(found.value("width"), 640.0);
            QCOMPARE(found.value("height"), 512.0);
            QCOMPARE(found.value("fps"), 25.0);
            QVERIFY(found.value("frames") >= 30);
            QVERIFY2(qAbs(found.value("duration") - found.value("frames") / 25) < 0.1,
                     qPrintable(QString::number(found.value("duration"))));
            QCOMPARE(run("ffmpeg", {"-v", "error", "-i", clips.last(), "-f", "null", "-"}), QString());
        } else if (effect == "full screen") {
            QVERIFY(waitFor(10000, [&] { return fullScreen() == bool(expected.toInt()); }));
        } else if (effect == "exit") {
            QVERIFY(viewer.waitForFinished(30000));
            QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
            QCOMPARE(viewer.exitCode(), expected.toInt());
        }
    }
};

QTEST_GUILESS_MAIN(tst_viewer_e2e)
#include "tst_viewer_e2e.moc"
