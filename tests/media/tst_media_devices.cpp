// Capture devices: where a device URL leads (registry, V4L2 node by card name, /dev path), a live
// stream on the device road, a device that hangs, and devices that are not there.
#include "PlayerProbe.h"

#include "LogCapture.h"
#include "TestMedia.h"
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
        QFile nameFile(nodeDir + "/name");
        QVERIFY(nameFile.open(QIODevice::WriteOnly));
        nameFile.write(name.toUtf8() + "\n");
        QFile indexFile(nodeDir + "/index");
        QVERIFY(indexFile.open(QIODevice::WriteOnly));
        indexFile.write(QByteArray::number(index) + "\n");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        addNode("video0", "Integrated Webcam", 0);
        addNode("video1", "Integrated Webcam", 1);
        addNode("video2", "UVC Camera", 1);
        addNode("video3", "UVC Camera", 0);
        QVERIFY(TestMedia::ffmpeg({"-f", "lavfi", "-i", "smptebars=size=160x120:rate=25:duration=1",
                                   "-pix_fmt", "yuv420p", "-f", "yuv4mpegpipe", dir.filePath("bars.y4m")}));
    }

    void resolvesDeviceUrl_data()
    {
        QTest::addColumn<QString>("deviceUrl");
        QTest::addColumn<QString>("openUrl");
        QTest::addColumn<QString>("format");
        QTest::newRow("card name to its capture node") << "video=UVC Camera"
                                                       << "DEV/video3"
                                                       << "v4l2";
        QTest::newRow("first capture node of a name") << "video=Integrated Webcam"
                                                      << "DEV/video0"
                                                      << "v4l2";
        QTest::newRow("dev path as it is") << "/dev/video7"
                                           << "/dev/video7"
                                           << "v4l2";
        QTest::newRow("unknown name still v4l2") << "video=Nothing Here"
                                                 << "Nothing Here"
                                                 << "v4l2";
        QTest::newRow("registered source wins") << "video=Simulated"
                                                << "unix:/tmp/sim.sock"
                                                << "yuv4mpegpipe";
    }
    void resolvesDeviceUrl()
    {
        QFETCH(QString, deviceUrl);
        QFETCH(QString, openUrl);
        QFETCH(QString, format);
        CaptureSourceRegistry::add("Simulated", {"unix:/tmp/sim.sock", "yuv4mpegpipe"});
        addNode("video9", "Simulated", 0);
        const CaptureInputResolver resolver(dir.filePath("sys"), dir.filePath("dev"));
        const CaptureInputResolver::Input input = resolver.resolve(deviceUrl);
        CaptureSourceRegistry::remove("Simulated");
        QCOMPARE(input.url, QString(openUrl).replace("DEV", dir.filePath("dev")));
        QCOMPARE(input.format, format);
    }

    void playsRegisteredCaptureSource()
    {
        Y4mFileStreamer camera;
        QVERIFY(camera.load(dir.filePath("bars.y4m"), 160, 120));
        const QString socket = dir.filePath("cam.sock");
        QVERIFY(camera.listen(socket));
        CaptureSourceRegistry::add("Test Cam", {"unix:" + socket, "yuv4mpegpipe"});
        LogCapture log;
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setHardware("vaapi"); // a device always decodes in software
        player.setUrl("video=Test Cam|160x120|25");
        player.play();
        player.start();
        QVERIFY(watch.waitForImages(10));
        player.stop();
        QVERIFY(watch.waitForFinish());
        CaptureSourceRegistry::remove("Test Cam");
        QCOMPARE(watch.started.count(), 1);
        QCOMPARE(watch.errors.count(), 0);
        QCOMPARE(watch.lengths.count(), 0);
        QCOMPARE(watch.images.last().size(), QSize(160, 120));
        QString why;
        QVERIFY2(TestMedia::showsSmpteBars(watch.images.last(), 30, &why), qPrintable(why));
        QVERIFY(log.contains("av_find_input_format(\"yuv4mpegpipe\") 0x"));
        QVERIFY(log.contains("File Info -> Format: yuv4mpegpipe  TimeLen: "));
        QVERIFY(log.contains("Decode: none"));
    }

    void stopDuringHangingRead_returnsWithinCheckTime()
    {
        Y4mFileStreamer camera;
        QVERIFY(camera.load(dir.filePath("bars.y4m"), 160, 120));
        camera.setSilentAfter(12);
        const QString socket = dir.filePath("hang.sock");
        QVERIFY(camera.listen(socket));
        CaptureSourceRegistry::add("Hanging Cam", {"unix:" + socket, "yuv4mpegpipe"});
        PlayerProbe player;
        PlayerWatch watch(&player);
        player.setReadTime(60000); // only stop() may end this read
        player.setUrl("video=Hanging Cam|160x120");
        player.play();
        player.start();
        QVERIFY(QTest::qWaitFor([&] { return camera.framesSent() >= 12; }, 20000));
        QTest::qWait(500);
        const int before = watch.images.size();
        QElapsedTimer clock;
        clock.start();
        player.stop();
        QVERIFY(watch.waitForFinish(player.checkTime + 2000));
        QVERIFY2(clock.elapsed() < player.checkTime + 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(player.wait(1000));
        CaptureSourceRegistry::remove("Hanging Cam");
        QVERIFY(before > 0);
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
        PlayerProbe player;
        player.captureResolver = CaptureInputResolver(dir.filePath("sys"), dir.filePath("dev"));
        QStringList order;
        QObject receiver; // queued calls die with this test row
        connect(&player, &FFmpegThread::receivePlayError, &receiver, [&] { order << "error"; });
        connect(&player, &FFmpegThread::receivePlayFinsh, &receiver, [&] { order << "finish"; });
        player.setUrl(url);
        player.play();
        player.start();
        QTRY_COMPARE_WITH_TIMEOUT(order, QStringList({"error", "finish"}), 10000);
        QVERIFY(log.contains("av_find_input_format(\"v4l2\") 0x"));
        QVERIFY(log.contains("open input error \"No such file or directory\""));
    }
};

QTEST_GUILESS_MAIN(CaptureDeviceTest)
#include "tst_media_devices.moc"
