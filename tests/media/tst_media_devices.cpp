// Capture devices: where a device URL leads (registry, V4L2 node by card name, /dev path), a live
// stream on the device road, a device that hangs, and devices that are not there.
#include "PlayerProbe.h"

#include "LogCapture.h"
#include "Y4mFileStreamer.h"

#include "capture/CaptureSourceRegistry.h"
#include "media/CaptureInputResolver.h"

#include <QDir>
#include <QElapsedTimer>
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
    // Streams bars.y4m on a socket registered as capture source name.
    bool serveCamera(Y4mFileStreamer &camera, const QString &name)
    {
        const QString socket = dir.filePath(name + ".sock");
        if (!camera.load(dir.filePath("bars.y4m"), 160, 120) || !camera.listen(socket))
            return false;
        CaptureSourceRegistry::add(name, {"unix:" + socket, "yuv4mpegpipe"});
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        addNode("video0", "Integrated Webcam", 0);
        addNode("video1", "Integrated Webcam", 1);
        addNode("video2", "UVC Camera", 1);
        addNode("video3", "UVC Camera", 0);
        addNode("video9", "Simulated", 0);
        QVERIFY(TestMedia::ffmpeg(dir.path(), "-f lavfi -i smptebars=size=160x120:rate=25:duration=1 "
                                              "-pix_fmt yuv420p -f yuv4mpegpipe bars.y4m"));
    }

    void resolvesDeviceUrl_data()
    {
        QTest::addColumn<QString>("deviceUrl");
        QTest::addColumn<QString>("openUrl");
        QTest::addColumn<QString>("format");
        auto row = [](const char *name, const char *device, const char *open, const char *format = "v4l2") {
            QTest::newRow(name) << QString(device) << QString(open) << QString(format);
        };
        row("card name to its capture node", "video=UVC Camera", "DEV/video3");
        row("first capture node of a name", "video=Integrated Webcam", "DEV/video0");
        row("dev path as it is", "/dev/video7", "/dev/video7");
        row("unknown name still v4l2", "video=Nothing Here", "Nothing Here");
        row("registered source wins", "video=Simulated", "unix:/tmp/sim.sock", "yuv4mpegpipe");
    }
    void resolvesDeviceUrl()
    {
        QFETCH(QString, deviceUrl);
        QFETCH(QString, openUrl);
        QFETCH(QString, format);
        CaptureSourceRegistry::add("Simulated", {"unix:/tmp/sim.sock", "yuv4mpegpipe"});
        const CaptureInputResolver resolver(dir.filePath("sys"), dir.filePath("dev"));
        const CaptureInputResolver::Input input = resolver.resolve(deviceUrl);
        CaptureSourceRegistry::remove("Simulated");
        QCOMPARE(input.url, QString(openUrl).replace("DEV", dir.filePath("dev")));
        QCOMPARE(input.format, format);
    }

    void playsRegisteredCaptureSource()
    {
        Y4mFileStreamer camera;
        QVERIFY(serveCamera(camera, "Test Cam"));
        LogCapture log;
        PlayerRun run;
        run.player.setHardware("vaapi"); // a device always decodes in software
        run.verifyLive("video=Test Cam|160x120|25", QStringLiteral("yuv4mpegpipe"), {160, 120});
        CaptureSourceRegistry::remove("Test Cam");
        QVERIFY(log.contains("av_find_input_format(\"yuv4mpegpipe\") 0x"));
        QVERIFY(log.contains("File Info -> Format: yuv4mpegpipe  TimeLen: "));
        QVERIFY(log.contains("Decode: none"));
    }

    void stopDuringHangingRead_returnsWithinCheckTime()
    {
        Y4mFileStreamer camera;
        camera.setSilentAfter(12);
        QVERIFY(serveCamera(camera, "Hanging Cam"));
        PlayerRun run;
        run.player.setReadTime(60000); // only stop() may end this read
        run.start("video=Hanging Cam|160x120");
        QVERIFY(QTest::qWaitFor([&] { return camera.framesSent() >= 12; }, 20000));
        QTest::qWait(500);
        QVERIFY(!run.images().isEmpty());
        QElapsedTimer clock;
        clock.start();
        run.player.stop();
        QVERIFY(run.waitForFinish(run.player.currentSettings().checkTime + 2000));
        QVERIFY2(clock.elapsed() < run.player.currentSettings().checkTime + 1000,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(run.player.wait(1000));
        CaptureSourceRegistry::remove("Hanging Cam");
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
