// The player on the virtual UVC camera loaded into this process: FFmpeg's "v4l2" input reads it
// non-blocking, as it reads a real camera, in the formats and sizes thermal cameras send.
#include "LogCapture.h"
#include "PlayerProbe.h"
#include "VirtualCameraProcess.h"

#include <QtTest>

class MediaVirtualCameraTest : public QObject
{
    Q_OBJECT

    // Nodes of its own (40 and up, each replug two on): the camera's state is shared by every process on
    // the machine, and the other camera tests run beside this one.
    int node = 40;

    // Plugs in a camera of this kind (the old one leaves: a replug comes back at the next two nodes,
    // its capture node and its metadata node).
    bool replug(const QByteArray &format, const QByteArray &size)
    {
        qputenv("TARN_VCAM_FORMAT", format);
        qputenv("TARN_VCAM_SIZE", size);
        const QString next = QString("/dev/video%1").arg(node += 2);
        return VirtualCameraProcess::send("unplug") && VirtualCameraProcess::send("plug") &&
               QTest::qWaitFor([&] { return QFileInfo::exists(next); }, 5000);
    }

private slots:
    void initTestCase()
    {
        // The camera listens for commands from its first open.
        PlayerRun run;
        QVERIFY(run.play("video=UVC Camera|640x512", 1));
        QVERIFY(VirtualCameraProcess::send("resume"));
    }

    void plays_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QByteArray>("deviceSize");
        QTest::addColumn<QString>("askedSize");
        QTest::newRow("YUYV 640x512") << QByteArray("YUYV") << QByteArray("640x512") << "640x512";
        QTest::newRow("MJPEG 384x288") << QByteArray("MJPEG") << QByteArray("384x288") << "384x288";
        QTest::newRow("MJPEG 256x384") << QByteArray("MJPEG") << QByteArray("256x384") << "256x384";
        QTest::newRow("size not offered: the device's")
            << QByteArray("YUYV") << QByteArray("256x192") << "640x480";
    }
    void plays()
    {
        QFETCH(QByteArray, format);
        QFETCH(QByteArray, deviceSize);
        QFETCH(QString, askedSize);
        QVERIFY(replug(format, deviceSize));
        PlayerRun run;
        run.player.setHardware("vaapi"); // a device always decodes in software
        run.player.setSaveFile(true);    // and never records
        QVERIFY(run.play("video=UVC Camera|" + askedSize, 5));
        QVERIFY(!run.player.currentSettings().saveFile);
        const QList<QImage> images = run.images();
        QCOMPARE(QString("%1x%2").arg(images.last().width()).arg(images.last().height()),
                 QString::fromLatin1(deviceSize));
        QVERIFY(images.first() != images.last()); // a live picture: the warm spot moves
    }

    // Unplugged, or stalled: no image comes, the waiting player does not fill the log, and stop() still
    // ends it long before its read time-out. (That the wait sleeps in poll: tst_media_parts.)
    void silentCamera_waitsUntilStopped_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("stall") << QByteArray("stall");
        QTest::newRow("unplug") << QByteArray("unplug");
    }
    void silentCamera_waitsUntilStopped()
    {
        QFETCH(QByteArray, command);
        QVERIFY(replug("YUYV", "640x512"));
        PlayerRun run;
        run.player.setReadTime(600000); // only stop() may end the wait for the silent camera
        run.start("video=UVC Camera|640x512");
        QVERIFY(run.waitForImages(3));
        LogCapture log;
        QVERIFY(VirtualCameraProcess::send(command));
        // The frames still in flight arrive first: wait until none has come for half a second.
        int before = -1;
        QDeadlineTimer settle(10000);
        while (before != run.images().size() && !settle.hasExpired()) {
            before = run.images().size();
            [[maybe_unused]] const bool more =
                QTest::qWaitFor([&] { return run.images().size() != before; }, 500);
        }
        QVERIFY(!QTest::qWaitFor([&] { return run.images().size() != before; }, 2000)); // nothing comes
        QVERIFY2(log.lines().size() < 20, qPrintable(log.lines().join('\n')));
        run.player.stop();
        QVERIFY(run.waitForFinish());
        QVERIFY(VirtualCameraProcess::send("resume"));
    }
};

int main(int argc, char **argv)
{
    VirtualCameraProcess::load(argv, 40);
    QCoreApplication app(argc, argv);
    MediaVirtualCameraTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_media_vcam.moc"
