// The temperature reader on the virtual camera's split frames (generic-thermal 256x384, node 100).
#include "app/AppGlobals.h"
#include "camera/CameraWorker.h"
#include "capture/CameraListing.h"
#include "media/FFmpegThread.h"
#include "thermal/ThermalReader.h"
#include "ThermalScene.h"
#include "VirtualCameraProcess.h"

#include <QtTest>

#include <algorithm>

namespace {
constexpr int kNode = 100;
constexpr int W = 256, H = 192;
constexpr auto celsius = &ThermalReader::celsius;
} // namespace

// Also a tap of the player: it keeps the last frame, the one the readings are checked against.
class ThermalReaderTest : public QObject, public FrameTap
{
    Q_OBJECT

    ThermalReader reader;
    QMutex mutex;
    av::FramePtr lastFrame;
    std::atomic<int> frames{0};
    QPoint low, high; // its coldest and its hottest pixel

    static bool near(double a, double b) { return qAbs(a - b) < 0.1; }
    quint16 at(QPoint p) const
    {
        return qFromLittleEndian<quint16>(lastFrame->data[0] + (H + p.y()) * lastFrame->linesize[0] +
                                          2 * p.x());
    }
    QImage picture(int palette)
    {
        reader.setPalette(palette);
        QSignalSpy drawn(&reader, &ThermalReader::pictureReady);
        reader.tapFrame(*lastFrame, {});
        return drawn.value(0).value(0).value<QImage>().copy();
    }

public:
    void tapFrame(const AVFrame &frame, const Facts &) override
    {
        av::FramePtr copy(av_frame_alloc());
        copy->format = frame.format, copy->width = frame.width, copy->height = frame.height;
        QMutexLocker lock(&mutex);
        if (av_frame_get_buffer(copy.get(), 0) == 0 && av_frame_copy(copy.get(), &frame) >= 0)
            lastFrame = std::move(copy), ++frames;
    }

private slots:
    // The camera starts at its picture size (256x192): the session asks it for the split size.
    void initTestCase()
    {
        CameraWorker worker;
        worker.setChoice(QStringLiteral("USB Camera"), QString(), QString());
        CameraOpenReport report;
        connect(&worker, &CameraWorker::opened, this, [&](const CameraOpenReport &r) { report = r; });
        QVERIFY(QMetaObject::invokeMethod(&worker, "open", Qt::DirectConnection));
        QMetaObject::invokeMethod(&worker, "close", Qt::DirectConnection);
        QVERIFY(report.ok);
        QCOMPARE(QSize(report.width, report.height), QSize(W, 2 * H));
        QCOMPARE(report.profile.pictureSize, QSize(W, H));
        const QString block = CameraListing::text()
                                  .section(QStringLiteral("/dev/video%1 ").arg(kNode), 1)
                                  .section(QStringLiteral("\n/dev/"), 0, 0);
        QVERIFY2(block.contains("\n    layout: split (picture 256x192 over temperatures)\n"),
                 qPrintable(block));

        FFmpegThread player;
        player.addFrameTap(&reader);
        player.addFrameTap(this);
        player.setUrl(QStringLiteral("/dev/video%1|256x384").arg(kNode));
        player.play();
        player.start();
        QVERIFY(QTest::qWaitFor([&] { return frames >= 10; }, 30000));
        player.stop();
        player.wait();
        QVERIFY(lastFrame && lastFrame->height == 2 * H);
        for (int i = 0; i < W * H; ++i) {
            low = at({i % W, i / W}) < at(low) ? QPoint(i % W, i / W) : low;
            high = at({i % W, i / W}) > at(high) ? QPoint(i % W, i / W) : high;
        }
    }

    // The frame's values, and the scene's (README): the sky coldest, the engine or the lamp hottest, the
    // ground at the centre unless someone walks by.
    void readings_data()
    {
        QTest::addColumn<QPoint>("spot"); // (-1, -1): none pinned
        QTest::addColumn<double>("expected");
        QTest::newRow("no spot") << QPoint(-1, -1) << 0.0;
        QTest::newRow("sky") << QPoint(10, 5) << ThermalScene::SkyCelsius;
        QTest::newRow("street lamp") << QPoint(129, 16) << 60.0;
        QTest::newRow("outside the picture: its corner, sky") << QPoint(5000, -3) << ThermalScene::SkyCelsius;
    }
    void readings()
    {
        QFETCH(QPoint, spot);
        QFETCH(double, expected);
        const bool pinned = spot != QPoint(-1, -1);
        const QPoint inside(std::clamp(spot.x(), 0, W - 1), std::clamp(spot.y(), 0, H - 1));
        if (pinned) {
            reader.pinSpot(spot.x(), spot.y());
            reader.tapFrame(*lastFrame, {});
        }
        const auto clear = qScopeGuard([&] { reader.clearSpot(); });
        QTRY_VERIFY_WITH_TIMEOUT(
            reader.active() && reader.spotPinned() == pinned &&
                (!pinned || (reader.spotPoint() == inside && reader.spotCelsius() == celsius(at(inside)))) &&
                reader.minCelsius() == celsius(at(low)) && reader.maxCelsius() == celsius(at(high)) &&
                reader.centreCelsius() == celsius(at({W / 2, H / 2})),
            5000);
        const double max = reader.maxCelsius(), centre = reader.centreCelsius();
        QVERIFY(near(reader.minCelsius(), ThermalScene::SkyCelsius));
        QVERIFY(near(max, ThermalScene::EngineCelsius) || near(max, 60.0));
        QVERIFY2(near(centre, ThermalScene::GroundCelsius) ||
                     (centre > ThermalScene::GroundCelsius && centre <= ThermalScene::SkinCelsius + 0.1),
                 qPrintable(QString::number(centre)));
        QVERIFY2(!pinned || near(reader.spotCelsius(), expected),
                 qPrintable(QString::number(reader.spotCelsius())));
    }

    // A pixel hotter than the engine at the centre and one colder than the sky: the points are those.
    void pointsAreThePixels()
    {
        av::FramePtr frame(av_frame_clone(lastFrame.get()));
        QVERIFY(frame && av_frame_make_writable(frame.get()) == 0);
        const QPoint hot(W / 2, H / 2), cold(200, 150);
        for (const auto &[p, value] : {std::pair(hot, 99.0), std::pair(cold, -20.0)})
            qToLittleEndian<quint16>(ThermalScene::kelvin64(value),
                                     frame->data[0] + 2 * p.x() + (H + p.y()) * frame->linesize[0]);
        reader.tapFrame(*frame, {});
        QTRY_COMPARE_WITH_TIMEOUT(reader.maxPoint(), hot, 5000);
        QCOMPARE(reader.minPoint(), cold);
        QVERIFY(near(reader.centreCelsius(), 99.0) && near(reader.minCelsius(), -20.0));
    }

    // Stretched over the frame's range; black-hot is white-hot turned over, pixel for pixel.
    void palettesDiffer()
    {
        const QImage white = picture(ThermalReader::WhiteHot), black = picture(ThermalReader::BlackHot);
        const QImage iron = picture(ThermalReader::Iron), rainbow = picture(ThermalReader::Rainbow);
        QCOMPARE(white.size(), QSize(W, H));
        QCOMPARE(white.pixel(high), qRgb(255, 255, 255));
        QCOMPARE(white.pixel(low), qRgb(0, 0, 0));
        for (int i = 0; i < W * H; ++i)
            QCOMPARE(qGray(white.pixel(i % W, i / W)) + qGray(black.pixel(i % W, i / W)), 255);
        QVERIFY(iron != white && iron != rainbow && rainbow != white && rainbow != black);
        QCOMPARE(iron.pixel(high), ThermalReader::colours(ThermalReader::Iron).back());
        reader.setPalette(ThermalReader::WhiteHot);
    }

    // The last frame tapped (the palettes') is saved; a failed save leaves no file, not even a temporary.
    void save_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("taken"); // a directory in the way of one file
        QTest::newRow("saved") << "snap" << QString();
        QTest::newRow("no such folder") << "missing/snap" << QString();
        QTest::newRow("the CSV's name taken") << "snap"
                                              << "snap.csv";
        QTest::newRow("the PNG's name taken") << "snap"
                                              << "snap-raw16.png";
    }
    void save()
    {
        QFETCH(QString, base);
        QFETCH(QString, taken);
        QTemporaryDir dir;
        QVERIFY(taken.isEmpty() || QDir(dir.path()).mkdir(taken));
        QString error;
        const bool saved = reader.saveTemperatures(dir.filePath(base), &error);
        QCOMPARE(saved, base == "snap" && taken.isEmpty());
        QCOMPARE(error.isEmpty(), saved);
        if (!saved) {
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
            return;
        }
        const QImage raw(dir.filePath("snap-raw16.png"));
        QCOMPARE(raw.format(), QImage::Format_Grayscale16);
        QCOMPARE(raw.size(), QSize(W, H));
        QFile csv(dir.filePath("snap.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QByteArray text = csv.readAll();
        QCOMPARE(text.count('\n'), H); // each row ends with a line end, the last too
        const QList<QByteArray> cells = QByteArray(text).replace('\n', ',').split(',');
        QCOMPARE(cells.size(), W * H + 1);
        for (int i = 0; i < W * H; ++i) {
            const QPoint p(i % W, i / W);
            QCOMPARE(reinterpret_cast<const quint16 *>(raw.constScanLine(p.y()))[p.x()], at(p));
            QVERIFY2(cells[i].size() > 3 && cells[i].indexOf('.') + 3 == cells[i].size() &&
                         qAbs(cells[i].toDouble() - celsius(at(p))) <= 0.005 + 1e-9,
                     cells[i]);
        }
    }
};

int main(int argc, char **argv)
{
    qputenv("TARN_VCAM_PROFILE", "generic-thermal");
    VirtualCameraProcess::load(argv, kNode);
    QCoreApplication app(argc, argv);
    ThermalReaderTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_thermal_reader.moc"
