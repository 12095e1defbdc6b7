// The simulated-camera viewer driven as a person would: the real program on the suite's X display,
// real mouse events through xdotool, screenshots through ImageMagick's import. The screenshots are
// kept in the build tree as the test's output files.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>

namespace {
const QString titlePrefix = QStringLiteral("Tarn Player V1.1 - SN: ");

QString run(const QString &program, const QStringList &args, int timeoutMs = 10000)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return QString();
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Mean absolute difference per channel (0..255) over a rectangle of two pictures of the same size.
double difference(const QImage &a, const QImage &b, const QRect &area)
{
    double sum = 0;
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); y += 4) {
        for (int x = area.left(); x <= area.right(); x += 4) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum +=
                std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
            ++count;
        }
    }
    return count ? sum / (3.0 * count) : 0;
}

// The picture with the pane's content magnified by factor about the pane's middle.
QImage magnified(const QImage &image, const QRect &pane, double factor)
{
    const QSize part(qRound(pane.width() / factor), qRound(pane.height() / factor));
    const QRect middle(pane.center() - QPoint(part.width() / 2, part.height() / 2), part);
    QImage result = image.copy();
    const QImage scaled =
        image.copy(middle).scaled(pane.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < pane.height(); ++y) {
        for (int x = 0; x < pane.width(); ++x)
            result.setPixel(pane.left() + x, pane.top() + y, scaled.pixel(x, y));
    }
    return result;
}

// Share of sampled pixels in the area that are not black.
double litShare(const QImage &image, const QRect &area)
{
    int lit = 0;
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); y += 4) {
        for (int x = area.left(); x <= area.right(); x += 4) {
            if (qGray(image.pixel(x, y)) > 12)
                ++lit;
            ++count;
        }
    }
    return count ? double(lit) / count : 0;
}

// What a window manager does when the user clicks the close box: a WM_DELETE_WINDOW message.
bool requestClose(const QString &windowId)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    auto atom = [connection](const char *name) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    };
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(windowId.toULong());
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char *>(&event));
    // A round trip, so that the server has taken the message before this connection goes.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    xcb_disconnect(connection);
    return true;
}

bool isColor(QRgb pixel, const QColor &expected, int tolerance = 12)
{
    return std::abs(qRed(pixel) - expected.red()) <= tolerance &&
           std::abs(qGreen(pixel) - expected.green()) <= tolerance &&
           std::abs(qBlue(pixel) - expected.blue()) <= tolerance;
}
} // namespace

class tst_viewer_e2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void viewer_showsCameraAnswersClicksAndExitsCleanly();

private:
    QImage shoot(const QString &name);
    void click(int x, int y);
    void drag(int x, int fromY, int toY);
    QString title() const
    {
        return run(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), window});
    }

    QString viewerPath;
    QString shotDir;
    QProcess viewer;
    QProcess windowManager;
    QString window;
};

void tst_viewer_e2e::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X display (the suite runs inside xvfb-run)");
    for (const char *tool : {"xdotool", "xprop", "import", "openbox"})
        QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(), tool);
    const QString binaryDir = qEnvironmentVariable("TARN_BINARY_DIR");
    viewerPath = binaryDir + QStringLiteral("/bin/tarn-player-sim");
    QVERIFY2(QFileInfo(viewerPath).isExecutable(), qPrintable(viewerPath));
    shotDir = binaryDir + QStringLiteral("/test-output/tst_viewer_e2e");
    QVERIFY(QDir().mkpath(shotDir));

    // A window manager, as on any desktop, so that the window's wish to be maximised is carried out.
    windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    QVERIFY2(windowManager.waitForStarted(10000), qPrintable(windowManager.errorString()));
    QTest::qWait(500);
}

void tst_viewer_e2e::cleanupTestCase()
{
    if (windowManager.state() != QProcess::NotRunning) {
        windowManager.terminate();
        if (!windowManager.waitForFinished(5000)) {
            windowManager.kill();
            windowManager.waitForFinished(5000);
        }
    }
}

void tst_viewer_e2e::cleanup()
{
    if (viewer.state() != QProcess::NotRunning) {
        viewer.kill();
        viewer.waitForFinished(10000);
    }
}

QImage tst_viewer_e2e::shoot(const QString &name)
{
    const QString path = shotDir + QLatin1Char('/') + name + QStringLiteral(".png");
    QFile::remove(path);
    run(QStringLiteral("import"), {QStringLiteral("-window"), window, path}, 30000);
    QImage image(path);
    return image.convertToFormat(QImage::Format_RGB32);
}

void tst_viewer_e2e::click(int x, int y)
{
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(x),
         QString::number(y), QStringLiteral("click"), QStringLiteral("1")});
}

void tst_viewer_e2e::drag(int x, int fromY, int toY)
{
    const QString w = window;
    auto xdo = [](const QStringList &args) {
        run(QStringLiteral("xdotool"), args);
    };
    xdo({"mousemove", "--window", w, QString::number(x), QString::number(fromY)});
    xdo({"mousedown", "1"});
    const int steps = 12;
    for (int i = 1; i <= steps; ++i) {
        xdo({"mousemove", "--window", w, QString::number(x),
             QString::number(fromY + (toY - fromY) * i / steps)});
        QTest::qWait(20);
    }
    xdo({"mouseup", "1"});
}

void tst_viewer_e2e::viewer_showsCameraAnswersClicksAndExitsCleanly()
{
    viewer.setProcessChannelMode(QProcess::ForwardedChannels);
    viewer.start(viewerPath, QStringList());
    QVERIFY2(viewer.waitForStarted(10000), qPrintable(viewer.errorString()));

    // The window comes up maximised: it asks for it, and the window manager gives it the whole screen
    // but for its title bar. Found by process id: other windows may share the title.
    QTRY_VERIFY_WITH_TIMEOUT(
        !(window = run(QStringLiteral("xdotool"),
                       {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--pid"),
                        QString::number(viewer.processId()), QStringLiteral("--name"), titlePrefix}))
             .isEmpty(),
        20000);
    window = window.section(QLatin1Char('\n'), 0, 0);
    const QString state =
        run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("_NET_WM_STATE")});
    QVERIFY2(state.contains(QLatin1String("_NET_WM_STATE_MAXIMIZED_VERT")) &&
                 state.contains(QLatin1String("_NET_WM_STATE_MAXIMIZED_HORZ")),
             qPrintable(state));
    const QStringList screen =
        run(QStringLiteral("xdotool"), {QStringLiteral("getdisplaygeometry")}).split(' ');
    QCOMPARE(screen.size(), 2);
    auto windowSize = [&] {
        const QString shell = run(QStringLiteral("xdotool"),
                                  {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
        const auto value = [&](const char *key) {
            return QRegularExpression(QStringLiteral("%1=(\\d+)").arg(QLatin1String(key)))
                .match(shell)
                .captured(1)
                .toInt();
        };
        return QSize(value("WIDTH"), value("HEIGHT"));
    };
    QTRY_VERIFY2_WITH_TIMEOUT(windowSize().width() == screen[0].toInt() &&
                                  windowSize().height() > screen[1].toInt() - 80,
                              qPrintable(QStringLiteral("window %1x%2 on a %3x%4 screen")
                                             .arg(windowSize().width())
                                             .arg(windowSize().height())
                                             .arg(screen[0], screen[1])),
                              10000);

    // Within a few seconds the title carries the simulated camera's serial number.
    QTRY_VERIFY_WITH_TIMEOUT(title().startsWith(titlePrefix) &&
                                 title() != titlePrefix + QStringLiteral("Unknown") &&
                                 title().size() > titlePrefix.size(),
                             30000);

    // ... and the live picture covers the black centre pane, corners included.
    QImage first;
    QRect pane;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            first = shoot(QStringLiteral("1-live"));
            if (first.isNull())
                return false;
            pane = QRect(140, 0, first.width() - 280, first.height());
            const QRect corner(pane.left() + 4, pane.top() + 4, 40, 40);
            const QRect farCorner(pane.right() - 44, pane.bottom() - 44, 40, 40);
            return litShare(first, pane) > 0.5 && litShare(first, corner) > 0.5 &&
                   litShare(first, farCorner) > 0.5;
        }(),
        30000);
    const int width = first.width();

    // How much the picture changes by itself between two looks: the bar for the commands' effects.
    const QImage second = shoot(QStringLiteral("2-live-again"));
    const double drift = difference(first, second, pane);

    // A click on the palette button recolours the picture.
    click(70, 230);
    QImage recoloured;
    QTRY_VERIFY_WITH_TIMEOUT((recoloured = shoot(QStringLiteral("3-palette")),
                              difference(second, recoloured, pane) > 3 * drift + 10),
                             10000);

    // Moving the slider from 1.0X down to about 2.0X magnifies the picture and moves the handle. The
    // slider stands 150 below btnFFC (bottom 120): at 1.0X the handle's middle is 206 down, and each
    // 1.0X more is 56 further (168 pixels of travel for 3.0X).
    const int handleX = width - 70;
    const QColor handleColor(0x3b, 0x61, 0x53);
    drag(handleX, 206, 262);
    // Magnified twice about its middle, the picture before the move should look like the one after it,
    // much more than the unmagnified one does (the frame stamp along the bottom is left out).
    const QImage expected = magnified(recoloured, pane, 2.0);
    const QRect scene(pane.left(), pane.top(), pane.width(), pane.height() * 85 / 100);
    QImage zoomed;
    QTRY_VERIFY_WITH_TIMEOUT(
        (zoomed = shoot(QStringLiteral("4-zoom")),
         difference(expected, zoomed, scene) < 0.6 * difference(recoloured, zoomed, scene)),
        10000);
    // The handle now stands about a third of the way down the track, showing the new value there.
    QVERIFY(isColor(zoomed.pixel(handleX - 40, 262), handleColor));
    QVERIFY(!isColor(zoomed.pixel(handleX - 40, 206), handleColor));

    // Closing the window ends the session and the program exits with 0.
    qRegisterMetaType<QProcess::ExitStatus>();
    QSignalSpy finished(&viewer, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    QVERIFY(requestClose(window));
    QVERIFY(finished.wait(30000) || viewer.state() == QProcess::NotRunning);
    QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(viewer.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_viewer_e2e)
#include "tst_viewer_e2e.moc"
