// The camera profile table: the layout, sizes and command targets each kind of camera gets.
#include "camera/CameraProfile.h"

#include <QtTest>

class CameraProfileTest : public QObject
{
    Q_OBJECT

private slots:
    void choose_data()
    {
        // ids: vvvv:pppp or empty. profile: name, layout, size asked ("-": the camera's own), picture and
        // the targets of record, palette, tracking, flat-field and zoom (C camera, V viewer, - nowhere).
        for (const char *column : {"card", "ids", "yuyvSizes", "current", "override", "profile"})
            QTest::addColumn<QString>(column);
        QTest::addColumn<bool>("needsSizes"); // the node is opened again to list its sizes
        const char *own = "Tarn Thermal: UVC Camera", *split = "USB Camera: USB Camera",
                   *both = "256x192,256x384", *desk = "Desk Cam: Webcam";
        // clang-format off
        QTest::newRow("own camera") << own << "1209:0001" << "640x512" << "640x512" << "auto"
            << "uvc-camera whole - 640x512 CCCCC" << false;
        QTest::newRow("own camera without a product string") << "UVC Camera (1209:0001)" << "" << "640x512"
            << "640x512" << "auto" << "uvc-camera whole - 640x512 CCCCC" << false;
        QTest::newRow("own camera at a small size") << own << "" << "256x192" << "256x192" << "auto"
            << "uvc-camera whole - 256x192 CCCCC" << false;
        QTest::newRow("split core") << split << "1209:0002" << both << "256x192" << "auto"
            << "generic-split split 256x384 256x192 VVV-V" << true;
        QTest::newRow("split core, bare card name") << "USB Camera" << "" << both << "256x192" << "auto"
            << "generic-split split 256x384 256x192 VVV-V" << true;
        QTest::newRow("split core shown whole") << split << "" << both << "256x192" << "whole"
            << "generic-split whole 256x192 256x192 V---V" << true;
        QTest::newRow("webcam of the same name") << split << "" << "640x480,1280x720" << "640x480" << "auto"
            << "unknown whole - 640x480 CCCCC" << true;
        QTest::newRow("unknown camera") << desk << "" << "640x480" << "640x480" << "auto"
            << "unknown whole - 640x480 CCCCC" << false;
        QTest::newRow("unknown camera forced split") << desk << "" << "320x240,320x480,640x480" << "640x480"
            << "split" << "unknown split 320x480 320x240 CVVCV" << true;
        QTest::newRow("own camera forced split, no double size") << own << "" << "640x512" << "640x512"
            << "split" << "uvc-camera split - 640x256 CVVCV" << true;
        // clang-format on
    }
    void choose()
    {
        QFETCH(QString, card);
        QFETCH(QString, ids);
        QFETCH(QString, yuyvSizes);
        QFETCH(QString, current);
        QFETCH(QString, override);
        CameraProfile::Facts facts{card, quint16(ids.section(':', 0, 0).toUInt(nullptr, 16)),
                                   quint16(ids.section(':', 1).toUInt(nullptr, 16))};
        for (const QString &size : (yuyvSizes + ',' + current).split(','))
            facts.yuyvSizes << QSize(size.section('x', 0, 0).toInt(), size.section('x', 1).toInt());
        facts.currentSize = facts.yuyvSizes.takeLast();
        CameraProfile::LayoutOverride layoutOverride;
        QVERIFY(CameraProfile::parseOverride(override, &layoutOverride));

        const CameraProfile profile = CameraProfile::choose(facts, layoutOverride);
        const auto text = [](QSize s) {
            return s.isValid() ? QString("%1x%2").arg(s.width()).arg(s.height()) : "-";
        };
        QStringList got{profile.name, CameraProfile::layoutName(profile.layout), text(profile.requestSize),
                        text(profile.pictureSize), QString()};
        for (int c = 0; c < CameraProfile::CommandCount; ++c)
            got.last() += "CV-"[int(profile.target(CameraProfile::Command(c)))];
        QTEST(got.join(' '), "profile");
        QTEST(CameraProfile::needsSizes(card, layoutOverride), "needsSizes");
        QCOMPARE(profile.frameSize, profile.requestSize.isValid() ? profile.requestSize : facts.currentSize);
    }

    // "auto", "whole" and "split" are the rows' own overrides above.
    void badOverride()
    {
        for (const char *bad : {"", "Split", "both", "split "})
            QVERIFY2(!CameraProfile::parseOverride(bad, nullptr), bad);
    }
};

QTEST_GUILESS_MAIN(CameraProfileTest)
#include "tst_camera_profile.moc"
