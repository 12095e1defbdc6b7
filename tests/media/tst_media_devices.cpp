// Capture devices: where a device URL leads (V4L2 node by card name, /dev path) and devices that are
// not there. A live camera on the device road: tst_media_vcam.
#include "PlayerProbe.h"

#include "LogCapture.h"

#include "media/CaptureInputResolver.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class CaptureDeviceTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    void addNode(const QString &node, const QString &name, int index)
    {
        const QString nodeDir = dir.filePath("sys/" + node);
        QVERIFY(QDir().mkpath(nodeDir));
        const std::pair<QString, QString> files[] = {{"/name", name}, {"/index", QString::number(index)}};
        for (const auto &[file, text] : files) {
            QFile out(nodeDir + file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(text.toUtf8() + "\n");
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        addNode("video0", "Integrated Webcam", 0);
        addNode("video1", "Integrated Webcam", 1);
        addNode("video2", "UVC Camera", 1);
        addNode("video3", "UVC Camera", 0);
    }

    void resolvesDeviceUrl_data()
    {
        QTest::addColumn<QString>("deviceUrl");
        QTest::addColumn<QString>("openUrl");
        auto row = [](const char *name, const char *device, const char *open) {
            QTest::newRow(name) << QString(device) << QString(open);
        };
        row("card name to its capture node", "video=UVC Camera", "DEV/video3");
        row("first capture node of a name", "video=Integrated Webcam", "DEV/video0");
        row("dev path as it is", "/dev/video7", "/dev/video7");
        row("unknown name still v4l2", "video=Nothing Here", "Nothing Here");
    }
    void resolvesDeviceUrl()
    {
        QFETCH(QString, deviceUrl);
        QFETCH(QString, openUrl);
        const CaptureInputResolver resolver(dir.filePath("sys"), dir.filePath("dev"));
        const CaptureInputResolver::Input input = resolver.resolve(deviceUrl);
        QCOMPARE(input.url, QString(openUrl).replace("DEV", dir.filePath("dev")));
        QCOMPARE(input.format, QString("v4l2"));
    }

    void missingDeviceFailsOpen_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("unknown card name") << "video=No Such Camera|640x512";
        QTest::newRow("missing node") << "/dev/video77";
        QTest::newRow("named node without a device file") << "video=UVC Camera";
    }
    void missingDeviceFailsOpen()
    {
        QFETCH(QString, url);
        LogCapture log;
        PlayerRun run;
        run.player.captureResolver = CaptureInputResolver(dir.filePath("sys"), dir.filePath("dev"));
        QVERIFY(run.play(url));
        QCOMPARE(run.order, QStringList({"error", "finish"}));
        QVERIFY(log.contains("av_find_input_format(\"v4l2\") 0x"));
        QVERIFY(log.contains("open input error \"No such file or directory\""));
    }
};

QTEST_GUILESS_MAIN(CaptureDeviceTest)
#include "tst_media_devices.moc"
