// The frame provider against recording surfaces: start/stop order, format correction, and which surface
// the pictures go to, called as the camera session calls it (setFormat, presentImage, on its thread).

#include "presentation/FameProvider.h"

#include <QAbstractVideoSurface>
#include <QtTest>

namespace {
const QRgb sentColour = qRgb(10, 20, 30);

// Records what the provider does to it into a shared log: "A start WxH RGB32", "A stop", "A present"
// (a frame of sentColour).
class RecordingSurface : public QAbstractVideoSurface
{
public:
    RecordingSurface(QString name, QStringList *events, QSize correctTo = {})
        : name(std::move(name)), events(events), correctTo(correctTo)
    {}

    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType) const override
    {
        return {QVideoFrame::Format_RGB32, QVideoFrame::Format_ARGB32};
    }

    // A surface may prefer another size (a real one rounds to what its renderer takes).
    QVideoSurfaceFormat nearestFormat(const QVideoSurfaceFormat &format) const override
    {
        QVideoSurfaceFormat corrected = format;
        corrected.setFrameSize(correctTo.isValid() ? correctTo : format.frameSize());
        return corrected;
    }

    bool start(const QVideoSurfaceFormat &format) override
    {
        const bool rgb32 = format.pixelFormat() == QVideoFrame::Format_RGB32 &&
                           format.handleType() == QAbstractVideoBuffer::NoHandle;
        *events << QStringLiteral("%1 start %2x%3 %4")
                       .arg(name, QString::number(format.frameWidth()), QString::number(format.frameHeight()),
                            rgb32 ? "RGB32" : "other");
        return QAbstractVideoSurface::start(format);
    }

    void stop() override
    {
        *events << name + " stop";
        QAbstractVideoSurface::stop();
    }

    bool present(const QVideoFrame &frame) override
    {
        QVideoFrame mapped(frame);
        const bool intact = mapped.map(QAbstractVideoBuffer::ReadOnly) &&
                            reinterpret_cast<const QRgb *>(mapped.bits())[0] == sentColour;
        mapped.unmap();
        *events << name + (intact ? " present" : " present wrong");
        return true;
    }

    QString name;
    QStringList *events;
    QSize correctTo;
};
} // namespace

class FameProviderTest : public QObject
{
    Q_OBJECT

private slots:
    // Each row: calls on a fresh provider, and what they do to the surfaces. A step is a surface to set
    // ("A", "B", "C" which corrects every size to 640x480, or "none"), a size to set as the format, or
    // "frame" to hand it a picture.
    void surfacesFormatsAndFrames_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("format before the surface: started on arrival")
            << "640x512 A" << QStringList{"A start 640x512 RGB32"};
        QTest::newRow("surface before any format: not started, frames still shown")
            << "A frame" << QStringList{"A present"};
        QTest::newRow("every format restarts the surface, at the same size or a new one")
            << "A 640x512 640x512 1280x720"
            << QStringList{"A start 640x512 RGB32", "A stop", "A start 640x512 RGB32", "A stop",
                           "A start 1280x720 RGB32"};
        QTest::newRow("the surface's correction starts and is remembered for the next surface")
            << "C 641x481 B" << QStringList{"C start 640x480 RGB32", "C stop", "B start 640x480 RGB32"};
        QTest::newRow("another surface: the old one stops, frames go to the new one")
            << "A 320x240 B frame"
            << QStringList{"A start 320x240 RGB32", "A stop", "B start 320x240 RGB32", "B present"};
        QTest::newRow("the same surface again: started again")
            << "A 320x240 A frame"
            << QStringList{"A start 320x240 RGB32", "A start 320x240 RGB32", "A present"};
        QTest::newRow("no surface: the old one stops and gets no frames")
            << "A 320x240 none frame" << QStringList{"A start 320x240 RGB32", "A stop"};
    }

    void surfacesFormatsAndFrames()
    {
        QFETCH(QString, steps);
        QFETCH(QStringList, events);
        QStringList seen;
        RecordingSurface a("A", &seen), b("B", &seen), c("C", &seen, QSize(640, 480));
        const QMap<QString, QAbstractVideoSurface *> surfaces{
            {"A", &a}, {"B", &b}, {"C", &c}, {"none", nullptr}};
        FameProvider provider;
        for (const QString &step : steps.split(' ')) {
            if (surfaces.contains(step)) {
                provider.setVideoSurface(surfaces.value(step));
                continue;
            }
            QImage image(8, 4, QImage::Format_RGB32);
            image.fill(sentColour);
            if (step == "frame")
                provider.presentImage(image);
            else
                provider.setFormat(step.section('x', 0, 0).toInt(), step.section('x', 1, 1).toInt());
        }
        QCOMPARE(seen, events);
    }
};

QTEST_GUILESS_MAIN(FameProviderTest)
#include "tst_fameprovider.moc"
