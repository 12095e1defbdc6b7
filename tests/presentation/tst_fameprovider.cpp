// The frame provider against a recording surface: start/stop order, format correction, dropping,
// and delivery through its signals from another thread.

#include "presentation/FameProvider.h"

#include <QAbstractVideoSurface>
#include <QtTest>

namespace {
// Records what the provider does to it, as "start WxH fmt", "stop", "present".
class RecordingSurface : public QAbstractVideoSurface
{
public:
    explicit RecordingSurface(QString name, QSize correctTo = {})
        : name(std::move(name)), correctTo(correctTo)
    {}

    QList<QVideoFrame::PixelFormat>
    supportedPixelFormats(QAbstractVideoBuffer::HandleType type) const override
    {
        if (type != QAbstractVideoBuffer::NoHandle)
            return {};
        return {QVideoFrame::Format_RGB32, QVideoFrame::Format_ARGB32};
    }

    // A surface may prefer another size (a real one rounds to what its renderer takes).
    QVideoSurfaceFormat nearestFormat(const QVideoSurfaceFormat &format) const override
    {
        QVideoSurfaceFormat corrected = format;
        if (correctTo.isValid())
            corrected.setFrameSize(correctTo);
        return corrected;
    }

    bool start(const QVideoSurfaceFormat &format) override
    {
        events << QStringLiteral("%1 start %2x%3 %4")
                      .arg(name)
                      .arg(format.frameWidth())
                      .arg(format.frameHeight())
                      .arg(format.pixelFormat());
        return QAbstractVideoSurface::start(format);
    }

    void stop() override
    {
        events << name + " stop";
        QAbstractVideoSurface::stop();
    }

    bool present(const QVideoFrame &frame) override
    {
        events << name + " present";
        presentThread = QThread::currentThread();
        lastFrame = frame;
        return true;
    }

    QString name;
    QSize correctTo;
    QStringList events;
    QVideoFrame lastFrame;
    QThread *presentThread = nullptr;
};

const int rgb32 = QVideoFrame::Format_RGB32;

QVideoFrame solidFrame(QRgb colour)
{
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(colour);
    return QVideoFrame(image);
}
} // namespace

class FameProviderTest : public QObject
{
    Q_OBJECT

private slots:
    void frameWithoutSurfaceIsDropped();
    void formatBeforeSurfaceStartsItOnArrival();
    void surfaceBeforeFormatIsNotStarted();
    void everySetFormatRestartsTheSurface_data();
    void everySetFormatRestartsTheSurface();
    void surfaceCorrectionIsWhatStarts();
    void replacingSurfaces_data();
    void replacingSurfaces();
    void signalsDeliverFromAnotherThread();
};

void FameProviderTest::frameWithoutSurfaceIsDropped()
{
    FameProvider provider;
    provider.onNewVideoContentReceived(solidFrame(qRgb(255, 0, 0)));
    QVERIFY(!provider.videoSurface());
}

void FameProviderTest::formatBeforeSurfaceStartsItOnArrival()
{
    FameProvider provider;
    provider.setFormat(640, 512);
    RecordingSurface surface("A");
    provider.setVideoSurface(&surface);
    QCOMPARE(surface.events, QStringList{QString("A start 640x512 %1").arg(rgb32)});
    QVERIFY(surface.isActive());
    QCOMPARE(surface.surfaceFormat().handleType(), QAbstractVideoBuffer::NoHandle);
}

void FameProviderTest::surfaceBeforeFormatIsNotStarted()
{
    FameProvider provider;
    RecordingSurface surface("A");
    provider.setVideoSurface(&surface);
    QVERIFY(surface.events.isEmpty());
    // Frames still go to a held surface that has not been started.
    provider.onNewVideoContentReceived(solidFrame(qRgb(0, 0, 255)));
    QCOMPARE(surface.events, QStringList{"A present"});
}

void FameProviderTest::everySetFormatRestartsTheSurface_data()
{
    QTest::addColumn<QSize>("first");
    QTest::addColumn<QSize>("second");
    QTest::newRow("same size") << QSize(640, 512) << QSize(640, 512);
    QTest::newRow("new size") << QSize(640, 512) << QSize(1280, 720);
}

void FameProviderTest::everySetFormatRestartsTheSurface()
{
    QFETCH(QSize, first);
    QFETCH(QSize, second);
    FameProvider provider;
    RecordingSurface surface("A");
    provider.setVideoSurface(&surface);
    provider.setFormat(first.width(), first.height());
    provider.setFormat(second.width(), second.height());
    const QStringList expected{
        QString("A start %1x%2 %3").arg(first.width()).arg(first.height()).arg(rgb32),
        "A stop",
        QString("A start %1x%2 %3").arg(second.width()).arg(second.height()).arg(rgb32),
    };
    QCOMPARE(surface.events, expected);
}

void FameProviderTest::surfaceCorrectionIsWhatStarts()
{
    FameProvider provider;
    RecordingSurface surface("A", QSize(640, 480));
    provider.setVideoSurface(&surface);
    provider.setFormat(641, 481);
    QCOMPARE(surface.events, QStringList{QString("A start 640x480 %1").arg(rgb32)});

    // The corrected format is the one remembered: a new surface starts from it.
    RecordingSurface other("B");
    provider.setVideoSurface(&other);
    QCOMPARE(other.events, QStringList{QString("B start 640x480 %1").arg(rgb32)});
}

void FameProviderTest::replacingSurfaces_data()
{
    QTest::addColumn<QString>("replacement"); // "B", "A" (the same) or "null"
    QTest::addColumn<QStringList>("eventsOfA");
    QTest::addColumn<QStringList>("eventsOfB");
    const QString startA = QString("A start 320x240 %1").arg(rgb32);
    const QString startB = QString("B start 320x240 %1").arg(rgb32);
    QTest::newRow("another surface") << "B" << QStringList{startA, "A stop"} << QStringList{startB};
    QTest::newRow("the same surface") << "A" << QStringList{startA, startA} << QStringList{};
    QTest::newRow("no surface") << "null" << QStringList{startA, "A stop"} << QStringList{};
}

void FameProviderTest::replacingSurfaces()
{
    QFETCH(QString, replacement);
    QFETCH(QStringList, eventsOfA);
    QFETCH(QStringList, eventsOfB);

    FameProvider provider;
    RecordingSurface a("A");
    RecordingSurface b("B");
    provider.setVideoSurface(&a);
    provider.setFormat(320, 240);

    QAbstractVideoSurface *next = replacement == "B" ? &b : replacement == "A" ? &a : nullptr;
    provider.setVideoSurface(next);
    QCOMPARE(provider.videoSurface(), next);

    // Frames go to the current surface only.
    provider.onNewVideoContentReceived(solidFrame(qRgb(0, 255, 0)));
    if (next)
        (replacement == "A" ? eventsOfA : eventsOfB) << replacement + " present";
    QCOMPARE(a.events, eventsOfA);
    QCOMPARE(b.events, eventsOfB);
}

void FameProviderTest::signalsDeliverFromAnotherThread()
{
    FameProvider provider;
    RecordingSurface surface("A");
    provider.setVideoSurface(&surface);

    std::unique_ptr<QThread> sender(QThread::create([&provider] {
        emit provider.newFormat(16, 8);
        emit provider.newFrameAvailable(solidFrame(qRgb(10, 20, 30)));
    }));
    sender->setObjectName("frame sender");
    sender->start();
    QVERIFY(sender->wait(5000));

    QTRY_COMPARE(surface.events.size(), 2);
    QCOMPARE(surface.events, (QStringList{QString("A start 16x8 %1").arg(rgb32), "A present"}));
    QCOMPARE(surface.presentThread, QThread::currentThread());
    QVideoFrame frame = surface.lastFrame;
    QVERIFY(frame.map(QAbstractVideoBuffer::ReadOnly));
    QCOMPARE(reinterpret_cast<const QRgb *>(frame.bits())[0], qRgb(10, 20, 30));
    frame.unmap();
}

QTEST_GUILESS_MAIN(FameProviderTest)
#include "tst_fameprovider.moc"
