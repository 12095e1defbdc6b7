// The camera profile table: what layout and command targets each kind of camera gets, with and
// without a --layout override. Our own camera stays whole with every command to the camera.
#include "camera/CameraProfile.h"

#include <QtTest>

namespace {
QVector<QSize> sizes(const QString &text)
{
    QVector<QSize> result;
    for (const QString &size : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        result << QSize(size.section(QLatin1Char('x'), 0, 0).toInt(),
                        size.section(QLatin1Char('x'), 1).toInt());
    return result;
}

QString sizeText(const QSize &size)
{
    return size.isValid() ? QStringLiteral("%1x%2").arg(size.width()).arg(size.height()) : QString();
}

// Record, palette, tracking, flat-field, zoom: C camera, V viewer, - nowhere.
QString targetText(const CameraProfile &profile)
{
    QString text;
    for (int c = 0; c < CameraProfile::CommandCount; ++c) {
        const CameraProfile::Target target = profile.target(CameraProfile::Command(c));
        text += target == CameraProfile::Target::Camera   ? 'C'
                : target == CameraProfile::Target::Viewer ? 'V'
                                                          : '-';
    }
    return text;
}
} // namespace

class CameraProfileTest : public QObject
{
    Q_OBJECT

private slots:
    void choose_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("ids");       // vvvv:pppp, empty when unknown
        QTest::addColumn<QString>("yuyvSizes"); // offered
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("override");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("request"); // empty: the camera's own size
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("targets");
        QTest::addColumn<bool>("needsSizes"); // the node is opened again to list its sizes

        const QString generic = QStringLiteral("256x192,256x384");
        // clang-format off
        QTest::newRow("own camera") << "Tarn Thermal: UVC Camera" << "1209:0001" << "640x512" << "640x512" << "auto"
            << "uvc-camera" << "whole" << "" << "640x512" << "CCCCC" << false;
        QTest::newRow("own camera without a product string") << "UVC Camera (1209:0001)" << "" << "640x512" << "640x512"
            << "auto" << "uvc-camera" << "whole" << "" << "640x512" << "CCCCC" << false;
        QTest::newRow("own camera at a small size") << "Tarn Thermal: UVC Camera" << "" << "256x192" << "256x192" << "auto"
            << "uvc-camera" << "whole" << "" << "256x192" << "CCCCC" << false;
        QTest::newRow("own camera, whole asked") << "Tarn Thermal: UVC Camera" << "" << "640x512" << "640x512" << "whole"
            << "uvc-camera" << "whole" << "" << "640x512" << "CCCCC" << false;
        QTest::newRow("split core") << "USB Camera: USB Camera" << "1209:0002" << generic << "256x192" << "auto"
            << "generic-split" << "split" << "256x384" << "256x192" << "VVV-V" << true;
        QTest::newRow("split core, bare card name") << "USB Camera" << "" << generic << "256x192" << "auto"
            << "generic-split" << "split" << "256x384" << "256x192" << "VVV-V" << true;
        QTest::newRow("split core, split asked") << "USB Camera: USB Camera" << "" << generic << "256x384" << "split"
            << "generic-split" << "split" << "256x384" << "256x192" << "VVV-V" << true;
        QTest::newRow("split core shown whole") << "USB Camera: USB Camera" << "" << generic << "256x192" << "whole"
            << "generic-split" << "whole" << "256x192" << "256x192" << "V---V" << true;
        QTest::newRow("webcam of the same name") << "USB Camera: USB Camera" << "" << "640x480,1280x720" << "640x480"
            << "auto" << "unknown" << "whole" << "" << "640x480" << "CCCCC" << true;
        QTest::newRow("unknown camera") << "Desk Cam: Webcam" << "" << "640x480" << "640x480" << "auto"
            << "unknown" << "whole" << "" << "640x480" << "CCCCC" << false;
        QTest::newRow("unknown camera forced split") << "Desk Cam: Webcam" << "" << "320x240,320x480,640x480"
            << "640x480" << "split" << "unknown" << "split" << "320x480" << "320x240" << "CVVCV" << true;
        QTest::newRow("own camera forced split, no double size") << "Tarn Thermal: UVC Camera" << "" << "640x512"
            << "640x512" << "split" << "uvc-camera" << "split" << "" << "640x256" << "CVVCV" << true;
        // clang-format on
    }
    void choose()
    {
        QFETCH(QString, card);
        QFETCH(QString, ids);
        QFETCH(QString, yuyvSizes);
        QFETCH(QString, current);
        QFETCH(QString, override);
        CameraProfile::Facts facts;
        facts.cardName = card;
        facts.vendorId = quint16(ids.section(QLatin1Char(':'), 0, 0).toUInt(nullptr, 16));
        facts.productId = quint16(ids.section(QLatin1Char(':'), 1).toUInt(nullptr, 16));
        facts.yuyvSizes = sizes(yuyvSizes);
        facts.currentSize = sizes(current).value(0);
        CameraProfile::LayoutOverride layoutOverride;
        QVERIFY(CameraProfile::parseOverride(override, &layoutOverride));

        const CameraProfile profile = CameraProfile::choose(facts, layoutOverride);
        QTEST(profile.name, "name");
        QTEST(CameraProfile::layoutName(profile.layout), "layout");
        QTEST(sizeText(profile.requestSize), "request");
        QTEST(sizeText(profile.pictureSize), "picture");
        QTEST(targetText(profile), "targets");
        QTEST(CameraProfile::needsSizes(card, layoutOverride), "needsSizes");
        QCOMPARE(profile.frameSize, profile.requestSize.isValid() ? profile.requestSize : facts.currentSize);
    }

    void override_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        for (const char *good : {"auto", "whole", "split"})
            QTest::newRow(good) << good << true;
        for (const char *bad : {"", "Split", "both", "split "})
            QTest::addRow("'%s'", bad) << bad << false;
    }
    void override()
    {
        QFETCH(QString, text);
        QTEST(CameraProfile::parseOverride(text, nullptr), "valid");
    }
};

QTEST_GUILESS_MAIN(CameraProfileTest)
#include "tst_camera_profile.moc"
