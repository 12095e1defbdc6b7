// The simulated thermal camera, read through FFmpeg the way the player reads it, and driven through
// the vendor library's functions.
#include "Y4mReader.h"

#include "camera/CameraDeviceList.h"
#include "camera/sim/SimulatedCamera.h"
#include "camera/UVCCameraSDK.h"
#include "capture/CaptureSourceRegistry.h"

#include <QFileInfo>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

using Frame = Y4mReader::Frame;

namespace {
// Rows above the frame-number strip: the picture proper.
const int pictureRows = SimulatedCamera::frameNumberArea().top();

SimulatedCamera &camera()
{
    return SimulatedCamera::instance();
}

bool samePicture(const Frame &a, const Frame &b)
{
    const size_t luma = size_t(pictureRows * a.width), chroma = size_t((pictureRows / 2) * (a.width / 2));
    return std::memcmp(a.plane(0), b.plane(0), luma) == 0 &&
           std::memcmp(a.plane(1), b.plane(1), chroma) == 0 &&
           std::memcmp(a.plane(2), b.plane(2), chroma) == 0;
}

// The share of the picture (in percent) that is clearly coloured, not grey.
double colouredPercent(const Frame &f)
{
    const int chroma = (pictureRows / 2) * (f.width / 2);
    int coloured = 0;
    for (int i = 0; i < chroma; ++i)
        coloured += std::abs(f.plane(1)[i] - 128) + std::abs(f.plane(2)[i] - 128) > 24;
    return 100.0 * coloured / chroma;
}

// Pearson correlation of a's luma with b's magnified by zoom about the centre, over the rows whose
// source lies above b's number strip.
double correlation(const Frame &a, const Frame &b, double zoom = 1.0)
{
    const int w = b.width, h = b.height;
    const int rows = qMin(pictureRows, int(h / 2.0 + (pictureRows - h / 2.0) * zoom));
    auto source = [zoom](int p, int size) {
        return qBound(0, int(std::floor(size / 2.0 + (p + 0.5 - size / 2.0) / zoom)), size - 1);
    };
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < w; ++x) {
            const double va = a.lumaAt(x, y), vb = b.lumaAt(source(x, w), source(y, h));
            sa += va, sb += vb, saa += va * va, sbb += vb * vb, sab += va * vb;
        }
    }
    const double n = double(w) * rows;
    return (sab / n - sa / n * sb / n) / std::sqrt((saa / n - sa / n * sa / n) * (sbb / n - sb / n * sb / n));
}

// Bounding box of the pixels within area that have the overlay colour: green (tracking box) or red (REC).
QRect markedPixels(const Frame &f, const QRect &area, bool green)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (green ? f.uAt(x, y) < 90 && f.vAt(x, y) < 90 : f.vAt(x, y) > 200 && f.uAt(x, y) < 110)
                box |= QRect(x, y, 1, 1);
    return box;
}

std::optional<CameraDevice> listedCamera()
{
    for (const CameraDevice &device : listCameraDevices())
        if (device.description == QLatin1String("UVC Camera"))
            return device;
    return std::nullopt;
}
} // namespace

class SimulatedCameraTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Y4mReader> stream;

    // Opens the camera (unless told not to) and a reader on its stream.
    bool openStream(bool openCamera = true)
    {
        stream = std::make_unique<Y4mReader>();
        return (!openCamera || UVC_CAMERA_OpenUVC()) && stream->open(camera().url());
    }

    // The first frame showing what the camera was told before this call (the next one may be drawn).
    bool shown(Frame *frame)
    {
        QVector<Frame> frames;
        const bool ok = stream->nextFrames(1, &frames, int(camera().lastFrameNumber() + 2));
        *frame = ok ? frames.first() : Frame();
        return ok;
    }

private slots:
    void init()
    {
        camera().reset();
        camera().setFrameNumbersStamped(true);
        UVC_CAMERA_SelectUVCCamera("UVC Camera");
    }

    void cleanup() { stream.reset(); }
    void cleanupTestCase() { camera().reset(); }

    void pluggedInCamera_isListedAndRegisteredAsUvcCamera()
    {
        const auto device = listedCamera();
        QVERIFY(device.has_value());
        QCOMPARE(device->deviceName, camera().socketPath());
        QCOMPARE(device->position, QCamera::UnspecifiedPosition);
        const auto source = CaptureSourceRegistry::find(QStringLiteral("UVC Camera"));
        QVERIFY(source.has_value());
        QCOMPARE(source->url, camera().url());
        QCOMPARE(source->format, QStringLiteral("yuv4mpegpipe"));
        QVERIFY(QFileInfo::exists(camera().socketPath()));
        QVERIFY(camera().socketPath().contains(QString::number(QCoreApplication::applicationPid())));
    }

    void stream_deliversLiveNumbered640x512FramesAtAboutThirtyPerSecond()
    {
        QVERIFY(openStream(false));
        QCOMPARE(QSize(stream->width, stream->height), QSize(640, 512));
        QCOMPARE(stream->pixelFormat, QStringLiteral("yuv420p"));
        QVector<Frame> frames;
        QVERIFY(stream->nextFrames(1, &frames));
        const qint64 start = stream->frameCount();
        QTest::qWait(2000);
        const qint64 inTwoSeconds = stream->frameCount() - start;
        QVERIFY2(inTwoSeconds >= 30 && inTwoSeconds <= 75, qPrintable(QString::number(inTwoSeconds)));

        // Numbered in order; live: warm bodies move and the sensor is noisy, so no two frames are alike.
        QVERIFY(stream->nextFrames(20, &frames));
        for (int i = 0; i < frames.size(); ++i) {
            QVERIFY(frames[i].number >= 0);
            QVERIFY(i == 0 || frames[i].number == frames[i - 1].number + 1);
            QVERIFY(i == 0 || !samePicture(frames[i - 1], frames[i]));
            const qint64 writtenAt = camera().frameWrittenAt(frames[i].number);
            QVERIFY(writtenAt > 0 && writtenAt <= frames[i].arrivedNs);
        }
        // The number survives conversion to RGB and scaling; a picture without the strip has none.
        QCOMPARE(SimulatedCamera::decodeFrameNumber(frames.last().toRgb().scaled(1280, 1024)),
                 frames.last().number);
        QImage plain(640, 512, QImage::Format_RGB32);
        plain.fill(Qt::darkGray);
        QCOMPARE(SimulatedCamera::decodeFrameNumber(plain), -1);
        QCOMPARE(camera().frameWrittenAt(-1), qint64(-1));
        QCOMPARE(camera().frameWrittenAt(camera().lastFrameNumber() + 1000), qint64(-1));
    }

    void palette_stepsThroughColourMaps_data()
    {
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("colour");
        QTest::addColumn<bool>("inverted");
        QTest::newRow("start: white-hot") << 0 << "white-hot" << false << false;
        QTest::newRow("one step: black-hot") << 1 << "black-hot" << false << true;
        QTest::newRow("two steps: iron") << 2 << "iron" << true << false;
        QTest::newRow("three steps: rainbow") << 3 << "rainbow" << true << false;
        QTest::newRow("four steps: red-hot") << 4 << "red-hot" << true << false;
        QTest::newRow("five steps: back to white-hot") << 5 << "white-hot" << false << false;
    }

    void palette_stepsThroughColourMaps()
    {
        QFETCH(int, steps);
        QFETCH(QString, name);
        QFETCH(bool, colour);
        QFETCH(bool, inverted);
        Frame whiteHot, frame;
        QVERIFY(openStream() && shown(&whiteHot));
        QCOMPARE(colouredPercent(whiteHot), 0.0);

        for (int i = 0; i < steps; ++i)
            QCOMPARE(UVC_CAMERA_SetContrast(5), 0);
        QCOMPARE(camera().paletteName(), name);
        QVERIFY(shown(&frame));
        const double coloured = colouredPercent(frame), similarity = correlation(frame, whiteHot);
        QVERIFY2(colour ? coloured > 1.0 : coloured == 0.0, qPrintable(QString::number(coloured)));
        QVERIFY2(inverted ? similarity < -0.8 : similarity > 0.3, qPrintable(QString::number(similarity)));
    }

    void zoom_magnifiesAboutTheCentre_data()
    {
        QTest::addColumn<int>("saturation");
        QTest::addColumn<double>("zoom");
        QTest::newRow("1.3X") << 13 << 1.3;
        QTest::newRow("2.0X") << 20 << 2.0;
        QTest::newRow("4.0X") << 40 << 4.0;
        QTest::newRow("above the range: 4.0X") << 55 << 4.0;
    }

    void zoom_magnifiesAboutTheCentre()
    {
        QFETCH(int, saturation);
        QFETCH(double, zoom);
        Frame base, zoomed;
        QVERIFY(openStream() && shown(&base));
        QCOMPARE(UVC_CAMERA_SetSaturation(saturation), 0);
        QCOMPARE(camera().zoom(), zoom);
        QVERIFY(shown(&zoomed));
        const double magnified = correlation(zoomed, base, zoom), unmagnified = correlation(zoomed, base);
        QVERIFY2(magnified > 0.8 && magnified > unmagnified + 0.1,
                 qPrintable(QStringLiteral("%1 vs %2").arg(magnified).arg(unmagnified)));
    }

    void flatFieldCorrection_freezesThePictureForAboutHalfASecond()
    {
        QVERIFY(openStream());
        QCOMPARE(UVC_CAMERA_SetContrast(4), 0);
        QVERIFY(camera().isFrozen());
        QVector<Frame> frames;
        QVERIFY(stream->nextFrames(40, &frames)); // about 1.3 s
        int longestRun = 1, run = 1, runEnd = 0;
        for (int i = 1; i < frames.size(); ++i) {
            QCOMPARE(frames[i].number, frames[i - 1].number + 1); // the stream itself goes on
            run = samePicture(frames[i - 1], frames[i]) ? run + 1 : 1;
            if (run > longestRun)
                longestRun = run, runEnd = i;
        }
        // 0.5 s at 30 fps is 15 frames; allow for scheduling.
        QVERIFY2(longestRun >= 10 && longestRun <= 22, qPrintable(QString::number(longestRun)));
        QVERIFY(runEnd + 2 < frames.size());
        QVERIFY(!samePicture(frames[runEnd], frames[runEnd + 1]));
        QVERIFY(!samePicture(frames[runEnd + 1], frames[runEnd + 2]));
        QVERIFY(!camera().isFrozen());
    }

    void overlays_toggleWithTheirCommands_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QRect>("area");
        QTest::addColumn<bool>("green"); // tracking box green, REC mark red
        QTest::addColumn<int>("minimumSize");
        QTest::newRow("2: tracking box") << 2 << QRect(0, 0, 640, 500) << true << 50;
        QTest::newRow("0: REC mark") << 0 << QRect(0, 0, 160, 60) << false << 20;
    }

    void overlays_toggleWithTheirCommands()
    {
        QFETCH(int, command);
        QFETCH(QRect, area);
        QFETCH(bool, green);
        QFETCH(int, minimumSize);
        Frame frame;
        QVERIFY(openStream() && shown(&frame));
        QVERIFY(markedPixels(frame, area, green).isEmpty());

        QCOMPARE(UVC_CAMERA_SetContrast(command), 0);
        QVERIFY(green ? camera().isTracking() : camera().isRecording());
        QVERIFY(shown(&frame));
        const QRect box = markedPixels(frame, area, green);
        QVERIFY2(box.width() >= minimumSize, qPrintable(QString::number(box.width())));
        if (green) {
            // The box surrounds the hottest spot: in white-hot the brightest part of the picture.
            double inside = 0, all = 0;
            const QRect inner = box.adjusted(4, 4, -4, -4);
            for (int y = 0; y < pictureRows; ++y)
                for (int x = 0; x < frame.width; ++x)
                    (inner.contains(x, y) ? inside : all) += frame.lumaAt(x, y);
            inside /= inner.width() * inner.height();
            all /= frame.width * pictureRows - inner.width() * inner.height();
            QVERIFY2(inside > all + 30, qPrintable(QStringLiteral("%1 vs %2").arg(inside).arg(all)));
        }

        QCOMPARE(UVC_CAMERA_SetContrast(command), 0);
        QVERIFY(shown(&frame));
        QVERIFY(markedPixels(frame, area, green).isEmpty());
    }

    void unplug_endsTheStreamAndRemovesTheCamera_replugRestoresIt()
    {
        QVector<Frame> frames;
        QVERIFY(openStream() && stream->nextFrames(3, &frames));
        camera().unplug();
        QTRY_VERIFY_WITH_TIMEOUT(stream->ended(), 5000);
        QVERIFY(!UVC_CAMERA_UVCIsOpen());
        QVERIFY(!UVC_CAMERA_OpenUVC());
        QVERIFY(!listedCamera());
        QVERIFY(!CaptureSourceRegistry::find(QStringLiteral("UVC Camera")).has_value());
        QVERIFY(!QFileInfo::exists(camera().socketPath()));
        QVERIFY(!Y4mReader().open(camera().url(), 1000));

        camera().replug();
        QVERIFY(listedCamera());
        QVERIFY(CaptureSourceRegistry::find(QStringLiteral("UVC Camera")).has_value());
        QVERIFY(openStream() && UVC_CAMERA_UVCIsOpen());
        QVERIFY(stream->nextFrames(3, &frames));
        QVERIFY(frames.first().number > 0);
    }

    void stall_keepsTheConnectionButStopsTheFrames()
    {
        QVector<Frame> frames;
        QVERIFY(openStream(false) && stream->nextFrames(3, &frames));
        const int connections = camera().connectionCount();
        camera().setStalled(true);
        QTest::qWait(300); // a frame already on its way may still arrive
        const qint64 stalledAt = stream->frameCount();
        QTest::qWait(1000);
        QCOMPARE(stream->frameCount(), stalledAt);
        QVERIFY(!stream->ended());
        QVERIFY(camera().hasClient());

        camera().setStalled(false);
        QVERIFY(stream->nextFrames(3, &frames));
        QCOMPARE(camera().connectionCount(), connections);
    }

    void newConnection_takesOverFromTheOldOne()
    {
        Y4mReader first;
        QVector<Frame> frames;
        QVERIFY(first.open(camera().url()) && first.nextFrames(2, &frames));
        QVERIFY(openStream(false) && stream->nextFrames(5, &frames));
        QTRY_VERIFY_WITH_TIMEOUT(first.ended(), 5000);
    }

    void open_needsTheSelectedNameAndAPluggedCamera_data()
    {
        QTest::addColumn<QByteArray>("selected");
        QTest::addColumn<bool>("opens");
        QTest::newRow("exact name") << QByteArray("UVC Camera") << true;
        QTest::newRow("other case") << QByteArray("uvc camera") << false;
        QTest::newRow("other camera") << QByteArray("Integrated Webcam") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }

    void open_needsTheSelectedNameAndAPluggedCamera()
    {
        QFETCH(QByteArray, selected);
        QFETCH(bool, opens);
        UVC_CAMERA_SelectUVCCamera(selected.constData());
        QCOMPARE(UVC_CAMERA_OpenUVC(), opens);
        QCOMPARE(UVC_CAMERA_UVCIsOpen(), opens);
        QCOMPARE(QSize(UVC_CAMERA_GetWidth(), UVC_CAMERA_GetHeight()), opens ? QSize(640, 512) : QSize(0, 0));
        QCOMPARE(QByteArray(UVC_CAMERA_GetFriendlyName()), opens ? QByteArray("UVC Camera") : QByteArray());
        UVC_CAMERA_CloseUVC();
        QVERIFY(!UVC_CAMERA_UVCIsOpen());
    }

    void failNextOpen_failsExactlyOneOpen()
    {
        camera().failNextOpen();
        QVERIFY(!UVC_CAMERA_OpenUVC());
        QVERIFY(!UVC_CAMERA_UVCIsOpen());
        QVERIFY(UVC_CAMERA_OpenUVC());
        UVC_CAMERA_CloseUVC();
        QVERIFY(UVC_CAMERA_OpenUVC());
    }

    void saturationAndSerialNumber_readBackAfterRefresh_data()
    {
        QTest::addColumn<int>("sent");
        QTest::addColumn<int>("readBack");
        QTest::newRow("10") << 10 << 10;
        QTest::newRow("13") << 13 << 13;
        QTest::newRow("40") << 40 << 40;
        QTest::newRow("below the range") << 3 << 10;
        QTest::newRow("above the range") << 41 << 40;
    }

    void saturationAndSerialNumber_readBackAfterRefresh()
    {
        QFETCH(int, sent);
        QFETCH(int, readBack);
        QVERIFY(UVC_CAMERA_OpenUVC());
        QCOMPARE(UVC_CAMERA_GetSaturation(), 10);
        QCOMPARE(UVC_CAMERA_RefreshProperties(), 0);
        const QByteArray serial = UVC_CAMERA_GetSN();
        QVERIFY(serial.startsWith("TSIM-"));
        QCOMPARE(UVC_CAMERA_SetSaturation(sent), 0);
        camera().setSerialNumber(QByteArray());
        QCOMPARE(UVC_CAMERA_GetSaturation(), 10); // until the next refresh
        QCOMPARE(QByteArray(UVC_CAMERA_GetSN()), serial);
        QCOMPARE(UVC_CAMERA_RefreshProperties(), 0);
        QCOMPARE(UVC_CAMERA_GetSaturation(), readBack);
        QCOMPARE(QByteArray(UVC_CAMERA_GetSN()), QByteArray());
        QCOMPARE(camera().receivedSaturation(), QVector<int>{sent});
    }

    void commands_areRecordedInOrderAndActOnlyWhileOpen()
    {
        QCOMPARE(UVC_CAMERA_SetContrast(5), -1);
        QCOMPARE(UVC_CAMERA_SetSaturation(20), -1);
        QCOMPARE(UVC_CAMERA_RefreshProperties(), -1);
        QCOMPARE(camera().paletteIndex(), 0);
        QCOMPARE(camera().zoom(), 1.0);

        QVERIFY(UVC_CAMERA_OpenUVC());
        for (int value : {0, 2, 4, 5, 1, 3})
            QCOMPARE(UVC_CAMERA_SetContrast(value), 0);
        QCOMPARE(UVC_CAMERA_SetSaturation(13), 0);
        QCOMPARE(camera().receivedContrast(), (QVector<int>{5, 0, 2, 4, 5, 1, 3}));
        QCOMPARE(camera().receivedSaturation(), (QVector<int>{20, 13}));
        QCOMPARE(camera().paletteIndex(), 1);
        QVERIFY(camera().isRecording() && camera().isTracking());
        QCOMPARE(camera().zoom(), 1.3);
        camera().clearReceived();
        QVERIFY(camera().receivedContrast().isEmpty());
    }

    void callsFromSeveralThreads_areSafe()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        std::atomic<int> faults{0};
        auto worker = [&](int seed) {
            for (int i = 0; i < 300; ++i) {
                switch ((i + seed) % 6) {
                case 0:
                    UVC_CAMERA_SetSaturation(10 + i % 31);
                    break;
                case 1:
                    UVC_CAMERA_RefreshProperties();
                    faults += QByteArray(UVC_CAMERA_GetSN()) != SimulatedCamera::DefaultSerialNumber;
                    break;
                case 2:
                    faults += UVC_CAMERA_UVCIsOpen() && UVC_CAMERA_GetSaturation() < 10;
                    break;
                case 3:
                    UVC_CAMERA_SetContrast(5);
                    break;
                case 4:
                    faults += !QByteArrayList{"", "UVC Camera"}.contains(UVC_CAMERA_GetFriendlyName());
                    break;
                default:
                    UVC_CAMERA_OpenUVC();
                }
            }
        };
        std::thread a(worker, 0), b(worker, 1), c(worker, 2);
        for (int i = 0; i < 100; ++i)
            (void)listCameraDevices(), (void)UVC_CAMERA_GetWidth();
        a.join(), b.join(), c.join();
        QCOMPARE(faults.load(), 0);
        QCOMPARE(camera().receivedSaturation().size(), 150);
    }
};

QTEST_GUILESS_MAIN(SimulatedCameraTest)
#include "tst_simulatedcamera.moc"
