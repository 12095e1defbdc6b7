// The temperature reader on real split frames: the player plays the virtual camera's generic-thermal
// profile at 256x384 (node 100), the reader taps its frames, and a tap of the test's own keeps a copy
// of the last frame to compute what the reader should have found.
#include "app/AppGlobals.h"
#include "camera/CameraWorker.h"
#include "camera/MainControl.h"
#include "capture/CameraListing.h"
#include "media/AvPointers.h"
#include "media/FFmpegThread.h"
#include "thermal/ThermalReader.h"
#include "ThermalScene.h"
#include "VirtualCameraProcess.h"

#include <QtTest>

#include <algorithm>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
constexpr int kNode = 100;
constexpr int W = 256, H = 192;

// Keeps a copy of the last frame and stops the player after a number of frames.
class FrameKeeper : public FrameTap
{
public:
    explicit FrameKeeper(FFmpegThread &player) : player(player) {}
    void tapFrame(const AVFrame &frame, const Facts &) override
    {
        QMutexLocker lock(&mutex);
        last.reset(av_frame_alloc());
        last->format = frame.format;
        last->width = frame.width;
        last->height = frame.height;
        if (av_frame_get_buffer(last.get(), 0) < 0 || av_frame_copy(last.get(), &frame) < 0)
            last.reset();
        if (++frames == stopAt)
            player.stop();
    }
    FFmpegThread &player;
    QMutex mutex;
    av::FramePtr last;
    int frames = 0;
    int stopAt = 0;
};

double celsius(quint16 raw)
{
    return ThermalReader::celsius(raw);
}
} // namespace

class ThermalReaderTest : public QObject
{
    Q_OBJECT

    ThermalReader reader;
    std::vector<quint16> values; // the bottom half of the last frame played, W x H
    av::FramePtr lastFrame;

    quint16 at(QPoint p) const { return values[size_t(p.y()) * W + size_t(p.x())]; }

    // Plays `frames` frames of the camera with the reader tapping them; keeps the last one.
    bool play(int frames)
    {
        FFmpegThread player;
        FrameKeeper keeper(player);
        keeper.stopAt = frames;
        player.addFrameTap(&reader);
        player.addFrameTap(&keeper);
        player.setUrl(QStringLiteral("/dev/video%1|256x384").arg(kNode));
        player.play();
        player.start();
        const bool finished = QTest::qWaitFor([&] { return player.isFinished(); }, 30000);
        player.stop();
        player.wait();
        QMutexLocker lock(&keeper.mutex);
        if (!finished || keeper.frames < frames || !keeper.last || keeper.last->height != 2 * H)
            return false;
        lastFrame = std::move(keeper.last);
        values.assign(size_t(W) * H, 0);
        for (int y = 0; y < H; ++y)
            qFromLittleEndian<quint16>(lastFrame->data[0] + size_t(H + y) * size_t(lastFrame->linesize[0]), W,
                                       values.data() + size_t(y) * W);
        return true;
    }

    // The reader's readings are of the frame kept (the timer takes them up within 100 ms).
    bool readingsOfLastFrame() const
    {
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        return reader.active() && reader.minCelsius() == celsius(*low) &&
               reader.maxCelsius() == celsius(*high) && reader.centreCelsius() == celsius(at({W / 2, H / 2}));
    }

    // The picture the reader draws of the kept frame with a palette.
    QImage picture(int palette)
    {
        QImage drawn;
        reader.setPalette(palette);
        const auto connection = connect(
            &reader, &ThermalReader::pictureReady, this, [&](const QImage &image) { drawn = image.copy(); },
            Qt::DirectConnection);
        reader.tapFrame(*lastFrame, {});
        disconnect(connection);
        return drawn;
    }

private slots:
    void initTestCase() { QVERIFY(play(3)); }

    void readsTheScene()
    {
        QVERIFY(play(10));
        QTRY_VERIFY_WITH_TIMEOUT(readingsOfLastFrame(), 5000);
        QCOMPARE(reader.pictureWidth(), W);
        QCOMPARE(reader.pictureHeight(), H);
        // The points hold the values, and the values are the scene's (README): the sky is the coldest,
        // the car's engine or the lamp the hottest; the centre is the ground unless someone walks by.
        QCOMPARE(celsius(at(reader.minPoint())), reader.minCelsius());
        QCOMPARE(celsius(at(reader.maxPoint())), reader.maxCelsius());
        QVERIFY(qAbs(reader.minCelsius() - ThermalScene::SkyCelsius) < 0.1);
        QVERIFY2(qAbs(reader.maxCelsius() - ThermalScene::EngineCelsius) < 0.1 ||
                     qAbs(reader.maxCelsius() - 60.0) < 0.1,
                 qPrintable(QString::number(reader.maxCelsius())));
        const double centre = reader.centreCelsius();
        QVERIFY2(qAbs(centre - ThermalScene::GroundCelsius) < 0.1 ||
                     (centre > ThermalScene::GroundCelsius && centre <= ThermalScene::SkinCelsius + 0.1),
                 qPrintable(QString::number(centre)));
        QVERIFY(!reader.spotPinned());
    }

    // The camera's frame with a pixel made hotter than the engine at the centre and one colder than the
    // sky elsewhere: the readings name exactly those pixels.
    void pointsAreThePixels()
    {
        av::FramePtr frame(av_frame_clone(lastFrame.get()));
        QVERIFY(frame && av_frame_make_writable(frame.get()) == 0);
        auto set = [&](QPoint p, double celsius) {
            qToLittleEndian<quint16>(ThermalScene::kelvin64(celsius),
                                     frame->data[0] + size_t(H + p.y()) * size_t(frame->linesize[0]) +
                                         2 * p.x());
        };
        const QPoint centre(W / 2, H / 2), cold(200, 150);
        set(centre, 99.0);
        set(cold, -20.0);
        reader.tapFrame(*frame, {});
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(reader.centreCelsius() - 99.0) < 0.1, 5000);
        QCOMPARE(reader.maxPoint(), centre);
        QCOMPARE(reader.minPoint(), cold);
        QVERIFY(qAbs(reader.minCelsius() + 20.0) < 0.1);
    }

    void pinnedSpot_data()
    {
        QTest::addColumn<QPoint>("spot");
        QTest::addColumn<double>("celsius");
        QTest::newRow("sky") << QPoint(10, 5) << ThermalScene::SkyCelsius;
        QTest::newRow("street lamp") << QPoint(129, 16) << 60.0;
        QTest::newRow("outside the picture: its corner, sky") << QPoint(5000, -3) << ThermalScene::SkyCelsius;
    }
    void pinnedSpot()
    {
        QFETCH(QPoint, spot);
        QFETCH(double, celsius);
        reader.pinSpot(spot.x(), spot.y());
        QVERIFY(play(5));
        const QPoint inside(std::clamp(spot.x(), 0, W - 1), std::clamp(spot.y(), 0, H - 1));
        QTRY_VERIFY_WITH_TIMEOUT(readingsOfLastFrame() && reader.spotPinned(), 5000);
        QCOMPARE(reader.spotPoint(), inside);
        QCOMPARE(reader.spotCelsius(), ::celsius(at(inside)));
        QVERIFY2(qAbs(reader.spotCelsius() - celsius) < 0.1,
                 qPrintable(QString::number(reader.spotCelsius())));
        reader.clearSpot();
    }

    void palettesDiffer()
    {
        const QImage white = picture(ThermalReader::WhiteHot), black = picture(ThermalReader::BlackHot);
        const QImage iron = picture(ThermalReader::Iron), rainbow = picture(ThermalReader::Rainbow);
        QCOMPARE(white.size(), QSize(W, H));
        // Stretched over the frame's range: the hottest pixel is white, the coldest black, and black-hot
        // is white-hot turned over, pixel for pixel.
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        const int lowAt = int(low - values.begin()), highAt = int(high - values.begin());
        QCOMPARE(white.pixel(highAt % W, highAt / W), qRgb(255, 255, 255));
        QCOMPARE(white.pixel(lowAt % W, lowAt / W), qRgb(0, 0, 0));
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                QCOMPARE(qGray(white.pixel(x, y)) + qGray(black.pixel(x, y)), 255);
        QVERIFY(iron != white && iron != rainbow && rainbow != white && rainbow != black);
        // The picture follows the values, not the camera's picture: the same value, the same colour.
        QCOMPARE(iron.pixel(highAt % W, highAt / W), ThermalReader::colours(ThermalReader::Iron).back());
        reader.setPalette(ThermalReader::WhiteHot);
    }

    void savesTheValues()
    {
        QTemporaryDir dir;
        const QString base = dir.filePath(QStringLiteral("snap"));
        QString error;
        QVERIFY2(reader.saveTemperatures(base, &error), qPrintable(error));

        const QImage raw(base + QStringLiteral("-raw16.png"));
        QCOMPARE(raw.format(), QImage::Format_Grayscale16);
        QCOMPARE(raw.size(), QSize(W, H));
        QFile csv(base + QStringLiteral(".csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csv.readAll().split('\n');
        QCOMPARE(rows.size(), H + 1); // the last line ends too
        for (int y = 0; y < H; ++y) {
            const QList<QByteArray> cells = rows[y].split(',');
            QCOMPARE(cells.size(), W);
            const auto *line = reinterpret_cast<const quint16 *>(raw.constScanLine(y));
            for (int x = 0; x < W; ++x) {
                QCOMPARE(line[x], at({x, y}));
                QVERIFY(cells[x].contains('.') && cells[x].size() - cells[x].indexOf('.') == 3);
                QVERIFY2(qAbs(cells[x].toDouble() - celsius(at({x, y}))) <= 0.005 + 1e-9, cells[x]);
            }
        }
    }

    void failedSaveLeavesNothing_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("taken"); // a directory in the way of one file
        QTest::newRow("no such folder") << "missing/snap" << QString();
        QTest::newRow("the CSV's name taken") << "snap"
                                              << "snap.csv";
        QTest::newRow("the PNG's name taken") << "snap"
                                              << "snap-raw16.png";
    }
    void failedSaveLeavesNothing()
    {
        QFETCH(QString, base);
        QFETCH(QString, taken);
        QTemporaryDir dir;
        base = dir.filePath(base);
        if (!taken.isEmpty())
            QVERIFY(QDir(dir.path()).mkdir(taken));
        QString error;
        QVERIFY(!reader.saveTemperatures(base, &error));
        QVERIFY(!error.isEmpty());
        for (const QString &file : {base + QStringLiteral("-raw16.png"), base + QStringLiteral(".csv")})
            QVERIFY(!QFileInfo(file).isFile());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList()); // no temporary file left either
    }

    // The session asks the split core for 256x384 and takes it as split; the listing names the layout.
    void sessionAndListingSeeSplit()
    {
        // The camera is left at its picture size: the session must ask for the split size itself.
        const int fd = ::open(qPrintable(QStringLiteral("/dev/video%1").arg(kNode)), O_RDWR | O_CLOEXEC);
        QVERIFY(fd >= 0);
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        format.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
        format.fmt.pix.width = W;
        format.fmt.pix.height = H;
        const int set = ::ioctl(fd, VIDIOC_S_FMT, &format);
        ::close(fd);
        QCOMPARE(set, 0);
        QCOMPARE(int(format.fmt.pix.height), H);

        CameraWorker worker;
        worker.setChoice(QStringLiteral("USB Camera"), QString(), QString());
        CameraOpenReport report;
        connect(&worker, &CameraWorker::opened, this, [&](const CameraOpenReport &r) { report = r; });
        QVERIFY(QMetaObject::invokeMethod(&worker, "open", Qt::DirectConnection));
        QMetaObject::invokeMethod(&worker, "close", Qt::DirectConnection);
        QVERIFY(report.ok);
        QCOMPARE(report.profile.name, QStringLiteral("generic-split"));
        QCOMPARE(report.profile.layout, CameraProfile::Layout::Split);
        QCOMPARE(QSize(report.width, report.height), QSize(W, 2 * H));
        QCOMPARE(report.profile.pictureSize, QSize(W, H));

        const QString block = CameraListing::text()
                                  .section(QStringLiteral("/dev/video%1 ").arg(kNode), 1)
                                  .section(QStringLiteral("\n/dev/"), 0, 0);
        QVERIFY2(block.contains(QStringLiteral("\n    layout: split (picture 256x192 over temperatures)\n")),
                 qPrintable(block));
    }

    // The session on the split camera: the pane's picture is the reader's, and the commands the profile
    // gives to the viewer change the viewer's state without a control write (which this camera would
    // refuse, with a notice); flat-field is answered at once with a notice, as nowhere to go.
    void sessionRoutesCommands()
    {
        uvcCameraDescription = QStringLiteral("USB Camera");
        MainControl control;
        ThermalReader &thermal = *control.thermalReader();
        QVERIFY(QMetaObject::invokeMethod(&control, "slotStartUVCConnect"));
        QTRY_VERIFY_WITH_TIMEOUT(control.currentState() == MainControl::State::Live && thermal.active(),
                                 15000);
        QCOMPARE(control.pictureLayout(), QStringLiteral("split"));
        QCOMPARE(QSize(thermal.pictureWidth(), thermal.pictureHeight()), QSize(W, H));

        const int palette = thermal.palette();
        QVERIFY(QMetaObject::invokeMethod(&control, "slotPalette"));
        QVERIFY(QMetaObject::invokeMethod(&control, "slotTrack"));
        QVERIFY(QMetaObject::invokeMethod(&control, "slotRecord"));
        QVERIFY(QMetaObject::invokeMethod(&control, "slotZoom", Q_ARG(double, 2.5)));
        QCOMPARE(thermal.palette(), (palette + 1) % ThermalReader::PaletteCount);
        QVERIFY(control.viewerTracking() && control.clipRecording());
        QCOMPARE(control.viewerZoom(), 2.5);
        // The window names the layout; no command was refused.
        QTRY_VERIFY(control.statusText().contains(QStringLiteral("layout: split")));
        QVERIFY(!QTest::qWaitFor(
            [&] { return control.statusText().contains(QStringLiteral("not accepted")); }, 1000));
        QVERIFY(QMetaObject::invokeMethod(&control, "slotFFC"));
        QVERIFY(control.statusText().contains(QStringLiteral("does not take")));
        QVERIFY(QMetaObject::invokeMethod(&control, "slotEndUVCConnect"));
    }
};

int main(int argc, char **argv)
{
    qputenv("TARN_VCAM_PROFILE", "generic-thermal");
    // The record button's clip goes under a home of the run's own.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    VirtualCameraProcess::load(argv, kNode);
    QCoreApplication app(argc, argv);
    ThermalReaderTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_thermal_reader.moc"
