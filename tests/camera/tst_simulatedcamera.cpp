// The simulated thermal camera, read through FFmpeg the way the player reads it, and driven through
// the vendor library's functions.
#include "Y4mReader.h"

#include "camera/CameraDeviceList.h"
#include "camera/sim/SimulatedCamera.h"
#include "camera/UVCCameraSDK.h"
#include "capture/CaptureSourceRegistry.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

using Frame = Y4mReader::Frame;

namespace {
constexpr int Timeout = 5000;
// Rows above the frame-number strip: the picture proper.
const int pictureRows = SimulatedCamera::frameNumberArea().top();

SimulatedCamera &camera()
{
    return SimulatedCamera::instance();
}

bool samePicture(const Frame &a, const Frame &b)
{
    const int lumaBytes = pictureRows * a.width;
    const int chromaBytes = (pictureRows / 2) * (a.width / 2);
    return std::memcmp(a.y.constData(), b.y.constData(), size_t(lumaBytes)) == 0 &&
           std::memcmp(a.u.constData(), b.u.constData(), size_t(chromaBytes)) == 0 &&
           std::memcmp(a.v.constData(), b.v.constData(), size_t(chromaBytes)) == 0;
}

// The share of the picture (in percent) that is clearly coloured, not grey.
double colouredPercent(const Frame &f)
{
    const int chromaBytes = (pictureRows / 2) * (f.width / 2);
    int coloured = 0;
    for (int i = 0; i < chromaBytes; ++i)
        coloured += std::abs(uint8_t(f.u.at(i)) - 128) + std::abs(uint8_t(f.v.at(i)) - 128) > 24;
    return 100.0 * coloured / chromaBytes;
}

// Pearson correlation of two luma pictures given as functions of (x, y).
template <class A, class B> double correlation(int width, int height, A a, B b)
{
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    const double n = double(width) * height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double va = a(x, y), vb = b(x, y);
            sa += va;
            sb += vb;
            saa += va * va;
            sbb += vb * vb;
            sab += va * vb;
        }
    }
    const double cov = sab / n - (sa / n) * (sb / n);
    const double varA = saa / n - (sa / n) * (sa / n);
    const double varB = sbb / n - (sb / n) * (sb / n);
    return cov / std::sqrt(varA * varB);
}

double lumaCorrelation(const Frame &a, const Frame &b)
{
    return correlation(
        a.width, pictureRows, [&](int x, int y) { return a.lumaAt(x, y); },
        [&](int x, int y) { return b.lumaAt(x, y); });
}

// How well `zoomed` matches `base` magnified by zoom about the centre.
double magnifiedCorrelation(const Frame &zoomed, const Frame &base, double zoom)
{
    const int w = base.width, h = base.height;
    auto sourceX = [&](int x) {
        return qBound(0, int(std::floor(w / 2.0 + (x + 0.5 - w / 2.0) / zoom)), w - 1);
    };
    auto sourceY = [&](int y) {
        return qBound(0, int(std::floor(h / 2.0 + (y + 0.5 - h / 2.0) / zoom)), h - 1);
    };
    // The part of the picture whose source lies above the number strip of the base frame.
    const int rows = qMin(pictureRows, int(h / 2.0 + (pictureRows - h / 2.0) * zoom));
    return correlation(
        w, rows, [&](int x, int y) { return zoomed.lumaAt(x, y); },
        [&](int x, int y) { return base.lumaAt(sourceX(x), sourceY(y)); });
}

bool isGreen(const Frame &f, int x, int y)
{
    return f.uAt(x, y) < 90 && f.vAt(x, y) < 90;
}

bool isRed(const Frame &f, int x, int y)
{
    return f.vAt(x, y) > 200 && f.uAt(x, y) < 110;
}

// Bounding box of the pixels for which test holds, within area.
template <class Test> QRect pixelsWhere(const Frame &f, const QRect &area, Test test)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (test(f, x, y))
                box |= QRect(x, y, 1, 1);
    return box;
}

bool containsDevice(const QList<CameraDevice> &devices, const QString &description)
{
    for (const CameraDevice &device : devices)
        if (device.description == description)
            return true;
    return false;
}
} // namespace

class SimulatedCameraTest : public QObject
{
    Q_OBJECT

private:
    // The first frame showing what the camera was told before this call.
    bool frameAfterCommand(Y4mReader &reader, Frame *frame)
    {
        return reader.frameAfter(camera().lastFrameNumber() + 1, frame, Timeout);
    }

private slots:
    void init()
    {
        camera().reset();
        camera().setFrameNumbersStamped(true);
        UVC_CAMERA_SelectUVCCamera("UVC Camera");
    }

    void cleanupTestCase() { camera().reset(); }

    void pluggedInCamera_isListedAndRegisteredAsUvcCamera()
    {
        const QList<CameraDevice> devices = listCameraDevices();
        bool found = false;
        for (const CameraDevice &device : devices) {
            if (device.description == QLatin1String("UVC Camera")) {
                found = true;
                QCOMPARE(device.deviceName, camera().socketPath());
                QCOMPARE(device.position, QCamera::UnspecifiedPosition);
            }
        }
        QVERIFY(found);
        const auto source = CaptureSourceRegistry::find(QStringLiteral("UVC Camera"));
        QVERIFY(source.has_value());
        QCOMPARE(source->url, QStringLiteral("unix:") + camera().socketPath());
        QCOMPARE(source->format, QStringLiteral("yuv4mpegpipe"));
        QVERIFY(QFileInfo::exists(camera().socketPath()));
        QVERIFY(camera().socketPath().contains(QString::number(QCoreApplication::applicationPid())));
    }

    void stream_deliversLive640x512FramesAtAboutThirtyPerSecond()
    {
        Y4mReader reader;
        QVERIFY(reader.open(camera().url()));
        QCOMPARE(reader.width(), 640);
        QCOMPARE(reader.height(), 512);
        QCOMPARE(reader.pixelFormat(), QStringLiteral("yuv420p"));

        QVector<Frame> first;
        QVERIFY(reader.nextFrames(1, &first, Timeout));
        const qint64 start = reader.frameCount();
        QTest::qWait(2000);
        const qint64 inTwoSeconds = reader.frameCount() - start;
        QVERIFY2(inTwoSeconds >= 30, qPrintable(QString::number(inTwoSeconds)));
        QVERIFY2(inTwoSeconds <= 75, qPrintable(QString::number(inTwoSeconds)));

        // Live: warm bodies move and the sensor is noisy, so no two frames are the same picture.
        QVector<Frame> frames;
        QVERIFY(reader.nextFrames(10, &frames, Timeout));
        for (int i = 1; i < frames.size(); ++i)
            QVERIFY(!samePicture(frames[i - 1], frames[i]));
    }

    void frameNumbers_decodeInOrderAfterConversionToRgb()
    {
        Y4mReader reader;
        QVERIFY(reader.open(camera().url()));
        QVector<Frame> frames;
        QVERIFY(reader.nextFrames(20, &frames, Timeout));
        for (int i = 0; i < frames.size(); ++i) {
            QVERIFY(frames[i].number >= 0);
            if (i > 0)
                QCOMPARE(frames[i].number, frames[i - 1].number + 1);
            const qint64 writtenAt = camera().frameWrittenAt(frames[i].number);
            QVERIFY(writtenAt > 0);
            QVERIFY(writtenAt <= frames[i].arrivedNs);
        }
        // A scaled copy still decodes; a picture without the strip does not.
        const QImage rgb = frames.last().toRgb();
        QCOMPARE(SimulatedCamera::decodeFrameNumber(rgb.scaled(1280, 1024)), frames.last().number);
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
        QVERIFY(UVC_CAMERA_OpenUVC());
        Y4mReader reader;
        QVERIFY(reader.open(camera().url()));
        Frame whiteHot;
        QVERIFY(frameAfterCommand(reader, &whiteHot));
        QCOMPARE(colouredPercent(whiteHot), 0.0);

        for (int i = 0; i < steps; ++i)
            QCOMPARE(UVC_CAMERA_SetContrast(5), 0);
        QCOMPARE(camera().paletteName(), name);
        Frame shown;
        QVERIFY(frameAfterCommand(reader, &shown));
        const double coloured = colouredPercent(shown);
        if (colour)
            QVERIFY2(coloured > 1.0, qPrintable(QString::number(coloured)));
        else
            QCOMPARE(coloured, 0.0);
        const double similarity = lumaCorrelation(whiteHot, shown);
        if (inverted)
            QVERIFY2(similarity < -0.8, qPrintable(QString::number(similarity)));
        else
            QVERIFY2(similarity > 0.3, qPrintable(QString::number(similarity)));
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
        QVERIFY(UVC_CAMERA_OpenUVC());
        Y4mReader reader;
        QVERIFY(reader.open(camera().url()));
        Frame base;
        QVERIFY(frameAfterCommand(reader, &base));

        QCOMPARE(UVC_CAMERA_SetSaturation(saturation), 0);
        QCOMPARE(camera().zoom(), zoom);
        Frame zoomed;
        QVERIFY(frameAfterCommand(reader, &zoomed));
        const double magnified = magnifiedCorrelation(zoomed, base, zoom);
        const double unmagnified = lumaCorrelation(zoomed, base);
        QVERIFY2(magnified > 0.8, qPrintable(QString::number(magnified)));
        QVERIFY2(magnified > unmagnified + 0.1,
                 qPrintable(QStringLiteral("%1 vs %2").arg(magnified).arg(unmagnified)));
    }

    void flatFieldCorrection_freezesThePictureForAboutHalfASecond()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        Y4mReader reader;
        QVERIFY(reader.open(camera().url()));
        Frame before;
        QVERIFY(frameAfterCommand(reader, &before));

        QCOMPARE(UVC_CAMERA_SetContrast(4), 0);
        QVERIFY(camera().isFrozen());
        QVector<Frame> frames;
        QVERIFY(reader.nextFrames(40, &frames, Timeout)); // about 1.3 s
        int longestRun = 1, run = 1, runEnd = 0;
        for (int i = 1; i < frames.size(); ++i) {
            QCOMPARE(frames[i].number, frames[i - 1].number + 1); // the stream itself goes on
            run = samePicture(frames[i - 1], frames[i]) ? run + 1 : 1;
            if (run > longestRun) {
                longestRun = run;
                runEnd = i;
            }
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
        auto marked = [green](const Frame &f, int x, int y) {
            return green ? isGreen(f, x, y) : isRed(f, x, y);
        };
        QVERIFY(UVC_CAMERA_OpenUVC());
        Y4mReader reader;
        QVERIFY(reader.open(camera().url()));
        Frame frame;
        QVERIFY(frameAfterCommand(reader, &frame));
        QVERIFY(pixelsWhere(frame, area, marked).isEmpty());

        QCOMPARE(UVC_CAMERA_SetContrast(command), 0);
        QCOMPARE(green ? camera().isTracking() : camera().isRecording(), true);
        QVERIFY(frameAfterCommand(reader, &frame));
        const QRect box = pixelsWhere(frame, area, marked);
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
        QVERIFY(frameAfterCommand(reader, &frame));
        QVERIFY(pixelsWhere(frame, area, marked).isEmpty());
    }

    void unplug_endsTheStreamAndRemovesTheCamera_replugRestoresIt()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        Y4mReader reader;
        QVERIFY(reader.open(camera().url()));
        QVector<Frame> frames;
        QVERIFY(reader.nextFrames(3, &frames, Timeout));

        camera().unplug();
        QVERIFY(reader.waitForEnd(Timeout));
        QVERIFY(!UVC_CAMERA_UVCIsOpen());
        QVERIFY(!UVC_CAMERA_OpenUVC());
        QVERIFY(!containsDevice(listCameraDevices(), QStringLiteral("UVC Camera")));
        QVERIFY(!CaptureSourceRegistry::find(QStringLiteral("UVC Camera")).has_value());
        QVERIFY(!QFileInfo::exists(camera().socketPath()));
        Y4mReader refused;
        QVERIFY(!refused.open(camera().url(), 1000));

        camera().replug();
        QVERIFY(containsDevice(listCameraDevices(), QStringLiteral("UVC Camera")));
        QVERIFY(CaptureSourceRegistry::find(QStringLiteral("UVC Camera")).has_value());
        QVERIFY(UVC_CAMERA_OpenUVC());
        QVERIFY(UVC_CAMERA_UVCIsOpen());
        Y4mReader again;
        QVERIFY(again.open(camera().url()));
        QVERIFY(again.nextFrames(3, &frames, Timeout));
        QVERIFY(frames.first().number > 0);
    }

    void stall_keepsTheConnectionButStopsTheFrames()
    {
        Y4mReader reader;
        QVERIFY(reader.open(camera().url()));
        QVector<Frame> frames;
        QVERIFY(reader.nextFrames(3, &frames, Timeout));
        const int connections = camera().connectionCount();

        camera().setStalled(true);
        QTest::qWait(300); // a frame already on its way may still arrive
        const qint64 stalledAt = reader.frameCount();
        QTest::qWait(1000);
        QCOMPARE(reader.frameCount(), stalledAt);
        QVERIFY(!reader.ended());
        QVERIFY(camera().hasClient());

        camera().setStalled(false);
        QVERIFY(reader.nextFrames(3, &frames, Timeout));
        QCOMPARE(camera().connectionCount(), connections);
    }

    void newConnection_takesOverFromTheOldOne()
    {
        Y4mReader first;
        QVERIFY(first.open(camera().url()));
        QVector<Frame> frames;
        QVERIFY(first.nextFrames(2, &frames, Timeout));
        Y4mReader second;
        QVERIFY(second.open(camera().url()));
        QVERIFY(second.nextFrames(5, &frames, Timeout));
        QVERIFY(first.waitForEnd(Timeout));
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
        QCOMPARE(UVC_CAMERA_GetWidth(), opens ? 640 : 0);
        QCOMPARE(UVC_CAMERA_GetHeight(), opens ? 512 : 0);
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

    void slowRefresh_takesAtLeastTheDelay()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        camera().setRefreshDelay(400);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(UVC_CAMERA_RefreshProperties(), 0);
        QVERIFY2(timer.elapsed() >= 400, qPrintable(QString::number(timer.elapsed())));
        // The camera stays answerable meanwhile from other threads.
        QVERIFY(UVC_CAMERA_UVCIsOpen());
    }

    void saturation_readsBackAfterRefresh_data()
    {
        QTest::addColumn<int>("sent");
        QTest::addColumn<int>("readBack");
        QTest::newRow("10") << 10 << 10;
        QTest::newRow("13") << 13 << 13;
        QTest::newRow("40") << 40 << 40;
        QTest::newRow("below the range") << 3 << 10;
        QTest::newRow("above the range") << 41 << 40;
    }

    void saturation_readsBackAfterRefresh()
    {
        QFETCH(int, sent);
        QFETCH(int, readBack);
        QVERIFY(UVC_CAMERA_OpenUVC());
        QCOMPARE(UVC_CAMERA_GetSaturation(), 10);
        QCOMPARE(UVC_CAMERA_SetSaturation(sent), 0);
        QCOMPARE(UVC_CAMERA_GetSaturation(), 10); // until the next refresh
        QCOMPARE(UVC_CAMERA_RefreshProperties(), 0);
        QCOMPARE(UVC_CAMERA_GetSaturation(), readBack);
        QCOMPARE(camera().receivedSaturation(), QVector<int>{sent});
    }

    void serialNumber_isStableAndReadBack()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        QCOMPARE(UVC_CAMERA_RefreshProperties(), 0);
        const QByteArray serial = UVC_CAMERA_GetSN();
        QVERIFY(serial.startsWith("TSIM-"));
        QCOMPARE(QByteArray(UVC_CAMERA_GetSN()), serial);

        camera().setSerialNumber(QByteArray());
        QCOMPARE(QByteArray(UVC_CAMERA_GetSN()), serial);
        QCOMPARE(UVC_CAMERA_RefreshProperties(), 0);
        QCOMPARE(QByteArray(UVC_CAMERA_GetSN()), QByteArray());
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
        QVERIFY(camera().isRecording());
        QVERIFY(camera().isTracking());
        QCOMPARE(camera().zoom(), 1.3);
        camera().clearReceived();
        QVERIFY(camera().receivedContrast().isEmpty());
    }

    void callsFromSeveralThreads_areSafe()
    {
        QVERIFY(UVC_CAMERA_OpenUVC());
        std::atomic<bool> wrong{false};
        auto worker = [&](int seed) {
            for (int i = 0; i < 300; ++i) {
                switch ((i + seed) % 6) {
                case 0:
                    UVC_CAMERA_SetSaturation(10 + i % 31);
                    break;
                case 1:
                    UVC_CAMERA_RefreshProperties();
                    if (QByteArray(UVC_CAMERA_GetSN()) != SimulatedCamera::DefaultSerialNumber)
                        wrong = true;
                    break;
                case 2:
                    if (UVC_CAMERA_UVCIsOpen() && UVC_CAMERA_GetSaturation() < 10)
                        wrong = true;
                    break;
                case 3:
                    UVC_CAMERA_SetContrast(5);
                    break;
                case 4: {
                    const QByteArray name = UVC_CAMERA_GetFriendlyName();
                    if (!name.isEmpty() && name != "UVC Camera")
                        wrong = true;
                    break;
                }
                default:
                    UVC_CAMERA_OpenUVC();
                    break;
                }
            }
        };
        std::thread a(worker, 0), b(worker, 1), c(worker, 2);
        for (int i = 0; i < 100; ++i) {
            (void)listCameraDevices();
            (void)UVC_CAMERA_GetWidth();
        }
        a.join();
        b.join();
        c.join();
        QVERIFY(!wrong);
        QCOMPARE(camera().receivedSaturation().size(), 150);
    }
};

QTEST_GUILESS_MAIN(SimulatedCameraTest)
#include "tst_simulatedcamera.moc"
