// Other people's V4L2 clients against the virtual camera: v4l2-ctl, v4l2-compliance, ffmpeg's "v4l2"
// input and GStreamer's v4l2src, each a real process with the library preloaded and a node no file
// stands for.
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class VirtualCameraToolsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char *tool :
             {"v4l2-ctl", "v4l2-compliance", "ffmpeg", "gst-launch-1.0", "gst-device-monitor-1.0"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QString("%1 is not installed (scripts/install-deps.sh)").arg(tool)));
        }
    }

    void toolSeesAUvcCamera_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QStringList>("expected"); // regular expressions the output must match

        const QStringList node{"-d", "/dev/video5"};
        QTest::newRow("v4l2-ctl --all")
            << "v4l2-ctl" << node + QStringList{"--all"}
            << QStringList{"TARN_VCAM_CARD=Tarn Core: UVC Camera"}
            << QStringList{"Driver name\\s*: uvcvideo", "Card type\\s*: Tarn Core: UVC Camera",
                           "Width/Height\\s*: 640/512", "'YUYV'",
                           "contrast 0x00980901 \\(int\\)\\s*: min=0 max=15"};
        // Each profile's formats, in order, with their sizes, and nothing after them.
        const auto listing = [](const QList<QPair<QString, QStringList>> &formats) {
            QString pattern;
            for (int i = 0; i < formats.size(); ++i) {
                pattern +=
                    QString("%1\\[%2\\]: '%3'[^\\n]*\\n").arg(i ? "\\t" : "").arg(i).arg(formats[i].first);
                for (const QString &size : formats[i].second)
                    pattern += "\t\tSize: Discrete " + size + "\n(\t\t\t.*\n)*";
            }
            return pattern + "$";
        };
        const struct
        {
            const char *profile, *card;
            QList<QPair<QString, QStringList>> formats;
        } profiles[] = {
            {"thermal",
             "Tarn Thermal: UVC Camera",
             {{"YUYV", {"256x192"}}, {"MJPG", {"256x192"}}, {"GREY", {"256x192"}}}},
            {"generic-thermal", "USB Camera: USB Camera", {{"YUYV", {"256x192", "256x384"}}}},
            {"webcam", "Tarn Wide Angle Conference Came", {{"MJPG", {"1280x720"}}, {"YUYV", {"640x480"}}}},
            {"no-product",
             "UVC Camera \\(1209:0001\\)",
             {{"YUYV", {"256x192"}}, {"MJPG", {"256x192"}}, {"GREY", {"256x192"}}}},
            {"y16", "Tarn Thermal Y16: UVC Camera", {{"Y16 ", {"640x512"}}}},
        };
        for (const auto &profile : profiles) {
            QTest::newRow(qPrintable(QString("v4l2-ctl --list-formats-ext, %1").arg(profile.profile)))
                << "v4l2-ctl" << node + QStringList{"-D", "--list-formats-ext"}
                << QStringList{QString("TARN_VCAM_PROFILE=") + profile.profile, "TARN_VCAM_SIZE=256x192"}
                << QStringList{QString("Card type\\s*: %1\n").arg(profile.card), listing(profile.formats)};
        }
        // The YUYV camera switched to greyscale by the client, as the player never does.
        QTest::newRow("ffmpeg -input_format gray")
            << "ffmpeg" << QStringList{"-hide_banner", "-nostdin",    "-f",      "v4l2", "-input_format",
                                       "gray",         "-video_size", "640x512", "-i",   "/dev/video5",
                                       "-frames:v",    "60",          "-f",      "null", "-"}
            << QStringList{"TARN_VCAM_FPS=60"}
            << QStringList{"Video: rawvideo.*gray, 640x512", "frame=\\s*60 "};
        // v4l2src streams on a dup() of the descriptor it negotiated on.
        const struct
        {
            const char *name, *caps, *seen, *last; // the last: the 100th raw buffer, a decoded picture
        } gstFormats[] = {
            {"YUYV", "video/x-raw,format=YUY2", "format=\\(string\\)YUY2", "offset_end: 100,"},
            {"MJPEG", "image/jpeg ! jpegdec", "image/jpeg, width=\\(int\\)640", "\\(491520 bytes"},
            {"GREY", "video/x-raw,format=GRAY8", "format=\\(string\\)GRAY8", "offset_end: 100,"}};
        for (const auto &format : gstFormats) {
            QTest::newRow(qPrintable(QString("gst-launch-1.0 v4l2src %1").arg(format.name)))
                << "gst-launch-1.0"
                << (QStringList{"-v", "v4l2src", "device=/dev/video5", "num-buffers=100", "!"} +
                    QString(format.caps).split(' ') + QStringList{"!", "fakesink", "silent=false"})
                << QStringList{"TARN_VCAM_FPS=60"}
                << QStringList{format.seen, format.last, "Got EOS from element"};
        }
        // Listings: libudev's sysfs walk, /dev, and udev's stable links.
        QTest::newRow("gst-device-monitor-1.0")
            << "gst-device-monitor-1.0" << QStringList{"Video/Source"} << QStringList{}
            << QStringList{"name  : Tarn Thermal: UVC Camera", "device.path = /dev/video5",
                           "device.serial = Tarn_Tarn_Thermal_TV2026A0001"};
        QTest::newRow("v4l2-ctl --list-devices, two cameras")
            << "v4l2-ctl" << node + QStringList{"--list-devices"}
            << QStringList{"TARN_VCAM_CAMERAS=webcam,thermal"}
            << QStringList{"^Tarn Wide Angle Conference Came \\(usb-tarn-vcam-hcd.0-1\\):\n\t/dev/video5\n"
                           "\t/dev/video6\n\nTarn Thermal: UVC Camera \\(usb-tarn-vcam-hcd.0-2\\):\n"
                           "\t/dev/video7\n\t/dev/video8\n"};
        QTest::newRow("realpath of the by-id link")
            << "realpath" << QStringList{"/dev/v4l/by-id/usb-Tarn_Tarn_Thermal_TV2026A0001-video-index0"}
            << QStringList{} << QStringList{"^/dev/video5\n$"};
        // One camera per machine: what one process did, the next sees.
        QTest::newRow("a control value read by a second process")
            << "sh"
            << QStringList{"-c",
                           "v4l2-ctl -d /dev/video5 -c contrast=9 && v4l2-ctl -d /dev/video5 -C contrast; "
                           "v4l2-ctl -d /dev/video5 -c contrast=1"}
            << QStringList{} << QStringList{"^contrast: 9\\n$"};
        // The second streamer waits until the first holds the camera (its own S_FMT is refused then).
        QTest::newRow("EBUSY for a second streamer in another process")
            << "sh"
            << QStringList{"-c", "v4l2-ctl -d /dev/video5 --stream-mmap --stream-count=600 >/dev/null & "
                                 "for i in $(seq 100); do v4l2-ctl -d /dev/video5 -v pixelformat=YUYV "
                                 "2>/dev/null || break; done; "
                                 "v4l2-ctl -d /dev/video5 --stream-mmap --stream-count=1; kill $!; wait"}
            << QStringList{} << QStringList{"VIDIOC_REQBUFS returned -1 \\(Device or resource busy\\)"};
        // The metadata node beside it (video6), as uvcvideo makes one for every camera.
        QTest::newRow("v4l2-ctl --all, metadata node")
            << "v4l2-ctl" << QStringList{"-d", "/dev/video6", "--all"} << QStringList{}
            << QStringList{"Device Caps\\s*: 0x04800000\n\t\tMetadata Capture\n\t\tStreaming\n",
                           "Sample Format\\s*: 'UVCH'"};
        for (const QString device : {"/dev/video5", "/dev/video6"})
            QTest::addRow("v4l2-compliance -s, %s", qPrintable(device))
                << "v4l2-compliance" << QStringList{"-d", device, "-s"} << QStringList{"TARN_VCAM_FPS=60"}
                << QStringList{"Total for uvcvideo device " + device + ": \\d+, Succeeded: \\d+, Failed: 0,"};
    }
    void toolSeesAUvcCamera()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(QStringList, expected);
        QProcess process;
        run(process, program, arguments, environment);
        const QString output = QString::fromUtf8(process.readAll());
        for (const QString &pattern : expected)
            QVERIFY2(QRegularExpression(pattern).match(output).hasMatch(),
                     qPrintable(pattern + " not in:\n" + output.right(3000)));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    // The generic thermal core's 256x384 frame as v4l2-ctl saves it: below the picture, one value per
    // pixel of the same scene, kelvin x 64, at the temperatures the README gives.
    void splitFrameCarriesTheSceneTemperatures_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<double>("celsius");
        QTest::newRow("sky") << 128 << 2 << -8.0;
        QTest::newRow("wall") << 14 << 54 << 12.0;
        QTest::newRow("warm window") << 30 << 34 << 22.0;
    }
    void splitFrameCarriesTheSceneTemperatures()
    {
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(double, celsius);
        QTemporaryDir dir;
        const QString path = dir.filePath("frame");
        QProcess process;
        run(process, "v4l2-ctl",
            {"-d", "/dev/video5", "-v", "width=256,height=384", "--stream-mmap", "--stream-count=1",
             "--stream-to=" + path},
            {"TARN_VCAM_PROFILE=generic-thermal"});
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray frame = file.readAll();
        QCOMPARE(frame.size(), 256 * 384 * 2);
        const int at = (192 * 256 + y * 256 + x) * 2;
        const int raw = quint8(frame[at]) | quint8(frame[at + 1]) << 8;
        QVERIFY2(qAbs(raw / 64.0 - 273.15 - celsius) < 0.05,
                 qPrintable(QString::number(raw / 64.0 - 273.15)));
    }

private:
    // Runs program with the camera preloaded at node 5 and the variables given.
    static void run(QProcess &process, const QString &program, const QStringList &arguments,
                    const QStringList &environment)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", TARN_VCAM_LIBRARY);
        env.insert("TARN_VCAM_NODE", "5");
        env.remove("TARN_VCAM_CONTROL");
        for (const QString &pair : environment)
            env.insert(pair.section('=', 0, 0), pair.section('=', 1));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForFinished(90000)) {
            process.kill();
            process.waitForFinished();
        }
    }
};

QTEST_GUILESS_MAIN(VirtualCameraToolsTest)
#include "tst_vcam_tools.moc"
