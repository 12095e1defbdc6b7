// Recording what the player plays, from real servers, checked with ffprobe and by decoding every file.
#include "PlayerProbe.h"

#include "media/Recorder.h"
#include "RtmpServer.h"
#include "RtspServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {
// Live RTSP with audio first (AAC, 48 kHz mono) and H.264 with B-frames second, a key frame a second, at
// 400 kbit/s: a 96 KB disk takes a few half-second fragments of it.
const char *kRtspLaunch =
    "( audiotestsrc is-live=true ! audio/x-raw,rate=48000,channels=1 ! voaacenc ! rtpmp4gpay name=pay0 pt=97 "
    "videotestsrc is-live=true pattern=smpte ! video/x-raw,width=320,height=240,framerate=25/1 ! x264enc "
    "speed-preset=ultrafast bitrate=400 bframes=3 key-int-max=25 ! video/x-h264,profile=main ! rtph264pay "
    "name=pay1 "
    "pt=96 config-interval=1 )";

using TestMedia::output;

// ffprobe's csv values of one entry for the first stream of a kind ("v" or "a").
QStringList probe(const QString &file, const QString &stream, const QString &entries)
{
    return output("ffprobe", {"-v", "error", "-select_streams", stream + ":0", "-count_packets",
                              "-show_entries", entries, "-of", "csv=p=0", file})
        .split('\n', Qt::SkipEmptyParts);
}

// What decoding the whole file says: nothing for a sound file.
QString decodeErrors(const QString &file)
{
    return output("ffmpeg", {"-hide_banner", "-v", "error", "-i", file, "-f", "null", "-"}, true);
}

// Empty when a recorded video file decodes cleanly, starts with a key frame and has its frames in order;
// otherwise what is wrong. seconds: its length (frames at 25 fps for raw H.264).
QString videoFault(const QString &file, double *seconds = nullptr)
{
    if (const QString errors = decodeErrors(file); !errors.isEmpty())
        return file + ": " + errors;
    if (!probe(file, "v", "packet=flags").value(0).startsWith('K'))
        return file + ": does not start with a key frame";
    const QStringList frames = probe(file, "v", "frame=best_effort_timestamp_time");
    for (int i = 1; i < frames.size(); ++i) {
        bool timed = false;
        const double time = frames[i].section(',', 0, 0).toDouble(&timed);
        if (timed && time <= frames[i - 1].section(',', 0, 0).toDouble())
            return file + ": frames out of order at " + frames[i];
    }
    if (seconds)
        *seconds = frames.size() / 25.0;
    return QString();
}
} // namespace

class RecordTest : public QObject
{
    Q_OBJECT

    QTemporaryDir media;
    QString avFile; // H.264 with B-frames and AAC 48 kHz mono, 4 s
    RtspServer rtsp;
    RtmpServer rtmp;
    QProcess http;
    QString httpUrl;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("tarn.media.interrupt.debug=false");
        QVERIFY(TestMedia::ffmpeg(media.path(),
                                  "-f lavfi -i smptebars=size=320x240:rate=25:duration=4 -f lavfi "
                                  "-i sine=duration=4:sample_rate=48000 -ac 1 -c:v libx264 -preset "
                                  "veryfast -pix_fmt yuv420p -g 25 -c:a aac -shortest "
                                  "-movflags +faststart av.mp4"));
        QVERIFY(TestMedia::ffmpeg(media.path(), "-i av.mp4 -c copy av.flv"));
        avFile = media.filePath("av.mp4");
        QVERIFY(rtsp.start(15000, kRtspLaunch));
        QVERIFY(rtmp.start());
        QVERIFY(rtmp.publish(avFile));
        const QString port = QString::number(TestMedia::startHttpServer(http, media.path()));
        QVERIFY(port != "0");
        httpUrl = "http://127.0.0.1:" + port + "/av.mp4";
    }
    void cleanupTestCase()
    {
        http.kill();
        http.waitForFinished();
    }

    void recordsWhatItPlays_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("slice");        // s
        QTest::addColumn<int>("seconds");      // of recording; 0: the input ends by itself
        QTest::addColumn<QString>("savePath"); // empty: a new directory
        QTest::addColumn<int>("videoFiles");   // at least
        QTest::addColumn<int>("audioFiles");
        // B-frames, audio as the first stream, slices cut at key frames, every file its own time line.
        QTest::newRow("rtsp mp4 slices") << "rtsp" << 2 << 6 << "" << 3 << 0;
        // RTMP records raw whatever is asked: Annex B H.264 named .mp4 and ADTS AAC with the stream's rate.
        QTest::newRow("rtmp raw with audio") << "rtmp" << 0 << 4 << "" << 1 << 1;
        // Every packet is recorded, also those interval thins out of the pictures.
        QTest::newRow("http mp4, interval 2") << "http" << 0 << 0 << "" << 1 << 0;
        QTest::newRow("local file") << "file" << 0 << 0 << "" << 0 << 0;
        QTest::newRow("unwritable directory") << "rtsp" << 0 << 2 << "/dev/null/rec" << 0 << 0;
    }
    void recordsWhatItPlays()
    {
        QFETCH(QString, input);
        QFETCH(int, slice);
        QFETCH(int, seconds);
        QFETCH(QString, savePath);
        QFETCH(int, videoFiles);
        QFETCH(int, audioFiles);
        QTemporaryDir dir;
        const QString path = savePath.isEmpty() ? dir.path() : savePath;
        const QString url = input == "rtsp"   ? rtsp.url()
                            : input == "rtmp" ? rtmp.url()
                            : input == "http" ? httpUrl
                                              : avFile;
        PlayerRun run;
        QStringList closed;
        connect(&run.player, &FFmpegThread::saveFileReceive, this,
                [&](const QString &file) { closed << file; });
        run.player.setSaveFile(true);
        run.player.setPlayAudio(true);
        run.player.setSavePath(path);
        run.player.setSaveInterval(slice);
        run.player.setInterval(2);
        run.player.setFileName(Recorder::makeFileName(path, "Ch1", QDateTime::currentDateTime()));
        if (slice > 0) // slices have no end time
            run.player.setSaveTime(QDateTime::currentDateTime().addSecs(1));
        run.start(url);
        QVERIFY(QTest::qWaitFor([&] { return run.order.contains("start"); }, 30000));
        // That many seconds of the stream (25 frames a second, every other one shown), then stop.
        if (seconds > 0) {
            QVERIFY(run.waitForImages(seconds * 25 / 2));
            run.player.stop();
        }
        QVERIFY(run.waitForFinish());
        const double shownSeconds = run.images().size() * 2 / 25.0;
        // The recording gate at open: files never record (capture devices neither: tst_media_vcam).
        QCOMPARE(run.player.currentSettings().saveFile, input != "file");
        QVERIFY2(QTest::qWaitFor([&] { return closed.size() >= videoFiles + audioFiles; }, 5000),
                 qPrintable(closed.join(' ')));
        QVERIFY(!run.images().isEmpty());

        const QStringList aac = closed.filter(QRegularExpression("\\.aac$"));
        QStringList videos = closed;
        for (const QString &file : aac)
            videos.removeAll(file);
        QVERIFY2(videos.size() >= videoFiles && (videoFiles > 0 || videos.isEmpty()),
                 qPrintable(closed.join(' ')));
        QCOMPARE(aac.size(), audioFiles);
        double total = 0;
        for (const QString &file : videos) {
            QCOMPARE(QFileInfo(file).path(), path + "/" + QDate::currentDate().toString("yyyy-MM-dd"));
            double length = 0;
            QCOMPARE(videoFault(file, &length), QString());
            total += length;
            QVERIFY2(probe(file, "a", "stream=codec_name").isEmpty(), "audio in a video recording");
            QCOMPARE(output("ffprobe", {"-v", "error", "-show_entries", "format=format_name", "-of",
                                        "default=nw=1:nk=1", file}),
                     input == "rtmp" ? "h264" : "mov,mp4,m4a,3gp,3g2,mj2");
        }
        // Live inputs have no length; HTTP with one plays like a file: to its end, reported once, no longer
        // network. (GStreamer's bars are at full level.)
        const bool live = input == "rtsp" || input == "rtmp";
        QCOMPARE(run.order, QStringList({"start", "finish"}));
        QCOMPARE(run.lengths.size(), live ? 0 : 1);
        QCOMPARE(run.player.currentSettings().isNetwork, live);
        QCOMPARE(TestMedia::smpteBarsMismatch(run.images().last(), 40, input == "rtsp" ? 255 : 191),
                 QString());
        // Live RTSP: the stream's time that the pictures shown cover (less what came before the first key
        // frame, with the few frames still in the decoder at the stop); RTMP comes in bursts; HTTP: the
        // whole file, every packet of it.
        if (input == "http")
            QCOMPARE(probe(videos.first(), "v", "stream=nb_read_packets"), QStringList{"100"});
        else if (input == "rtsp" && videoFiles > 0)
            QVERIFY2(total >= shownSeconds - 1.0 && total <= shownSeconds + 0.5,
                     qPrintable(QString("%1 s recorded, %2 s shown").arg(total).arg(shownSeconds)));
        for (const QString &file : aac) {
            QCOMPARE(decodeErrors(file), QString());
            QCOMPARE(file.chopped(4), videos.first().chopped(4)); // beside the video, named after it
            const QStringList stream = probe(file, "a", "stream=sample_rate,channels,nb_read_packets");
            QCOMPARE(stream.size(), 1);
            const QStringList values = stream.first().split(',');
            QCOMPARE(values.mid(0, 2), QStringList({"48000", "1"}));
            const double audioSeconds = values.at(2).toDouble() * 1024 / 48000;
            QVERIFY2(qAbs(audioSeconds - total) < 0.5,
                     qPrintable(QString("audio %1 s, video %2 s").arg(audioSeconds).arg(total)));
        }
    }

    // Without slices, the file closes once the end time is a whole second past, and soon after: it holds
    // no more of the live stream than came until then. The player plays on.
    void singleFileEndsAtSaveTime()
    {
        QTemporaryDir dir;
        PlayerRun run;
        QStringList closed;
        QDateTime closedAt;
        connect(&run.player, &FFmpegThread::saveFileReceive, this, [&](const QString &file) {
            closed << file;
            closedAt = QDateTime::currentDateTime();
        });
        const QDateTime end = QDateTime::currentDateTime().addSecs(2);
        run.player.setSaveFile(true);
        run.player.setFileName(Recorder::makeFileName(dir.path(), "Ch1", QDateTime::currentDateTime()));
        run.player.setSaveTime(end);
        run.start(rtsp.url());
        QVERIFY(QTest::qWaitFor([&] { return !closed.isEmpty(); }, 15000));
        QVERIFY(closedAt.secsTo(end) < 0);
        QCOMPARE(run.player.currentSettings().saveTime.date().year(), 1970);
        QVERIFY(run.player.isRunning());
        run.player.stop();
        QVERIFY(run.waitForFinish());
        QCOMPARE(closed.size(), 1);
        double seconds = 0;
        QCOMPARE(videoFault(closed.first(), &seconds), QString());
        QVERIFY2(seconds < 4.5, qPrintable(QString::number(seconds)));
    }

    // Slice switches and closes from the owner's thread while the player thread writes, many a second.
    void switchesAndClosesDuringWrites()
    {
        QTemporaryDir dir;
        PlayerRun run;
        QStringList closed;
        connect(&run.player, &FFmpegThread::saveFileReceive, this,
                [&](const QString &file) { closed << file; });
        run.player.setSaveFile(true);
        run.player.setSavePath(dir.path());
        run.player.setSaveInterval(1);
        run.start(rtsp.url());
        for (int i = 0; i < 40; ++i) {
            const int seen = run.images().size();
            QVERIFY(QTest::qWaitFor([&] { return run.images().size() > seen; }, 10000));
            if (i % 2)
                run.player.saveVideo();
            else
                run.player.closeVideo();
        }
        run.player.stop();
        QVERIFY(run.waitForFinish());
        // A name is never used twice, also within one second.
        QVERIFY(closed.size() >= 10);
        QCOMPARE(QFileInfo(closed.first()).dir().entryList(QDir::Files).size(), closed.size());
        for (const QString &file : closed) {
            if (!probe(file, "v", "packet=flags").isEmpty())
                QCOMPARE(videoFault(file), QString());
        }
    }

    // A recording killed mid-slice keeps what reached the disk: killed once its file holds two seconds
    // that play.
    void killedRecordingStillPlays()
    {
        QTemporaryDir dir;
        QProcess tool;
        tool.start(TestMedia::builtProgram("tarn-tool"),
                   {"record", rtsp.url(), dir.path(), "--seconds", "60"});
        const QDir day(dir.filePath(QDate::currentDate().toString("yyyy-MM-dd")));
        const auto playable = [&] {
            const QStringList files = day.entryList(QDir::Files);
            return files.isEmpty()
                       ? 0
                       : probe(day.filePath(files.first()), "v", "stream=nb_read_packets").value(0).toInt();
        };
        QVERIFY(QTest::qWaitFor([&] { return playable() >= 50; }, 30000));
        ::kill(pid_t(tool.processId()), SIGKILL);
        QVERIFY(tool.waitForFinished(5000));
        const QStringList files = day.entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        double seconds = 0;
        QCOMPARE(videoFault(day.filePath(files.first()), &seconds), QString());
        QVERIFY(seconds >= 2.0);
    }

    // tarn-tool record's failures: a full disk (a 96 KB tmpfs) stops the recording with one line and exit
    // code 1, and what was written plays; an HTTP file that ends early says so.
    void recordCommandFails_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("options"); // separated by '|'
        QTest::addColumn<QString>("error"); // in the one line of tarn-tool on standard error; DIR: the folder
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("mp4 into a full disk") << "rtsp"
                                              << "--seconds|30"
                                              << "disk full: DIR" << true;
        QTest::newRow("raw with audio into a full disk") << "rtsp"
                                                         << "--raw|--audio|--seconds|30"
                                                         << "disk full: DIR" << true;
        QTest::newRow("http file ends early") << "flv"
                                              << "--seconds|30"
                                              << "stream ended after 4." << false;
    }
    void recordCommandFails()
    {
        QFETCH(QString, input);
        QFETCH(QString, options);
        QFETCH(QString, error);
        QFETCH(bool, fullDisk);
        QTemporaryDir scratch;
        const QString dir = scratch.filePath("rec");
        QVERIFY(QDir().mkpath(dir));
        const bool mounted =
            fullDisk && QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=96k", "tmpfs", dir}) == 0;
        const auto unmount = qScopeGuard([&] {
            if (mounted)
                QProcess::execute("umount", {dir});
        });
        if (fullDisk && !mounted)
            QSKIP("cannot mount a tmpfs here (it takes root)");
        QProcess tool;
        tool.start(TestMedia::builtProgram("tarn-tool"),
                   QStringList{"record", input == "rtsp" ? rtsp.url() : httpUrl.chopped(3) + "flv", dir} +
                       options.split('|'));
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 1);
        // Qt's sound backend may have a say of its own; the tool's own line comes once.
        const QStringList lines =
            QString::fromUtf8(tool.readAllStandardError()).split('\n').filter("tarn-tool: ");
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QString(error).replace("DIR", dir)), qPrintable(lines.first()));
        const QStringList files =
            QString::fromUtf8(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(files.isEmpty(), !fullDisk);
        // Each plays: at least its first key frame, decoded cleanly.
        for (const QString &file : files) {
            QVERIFY2(QFileInfo(file).size() > 0, qPrintable(file));
            if (file.endsWith(".mp4"))
                QCOMPARE(videoFault(file), QString());
        }
    }

    void adtsHeader_data()
    {
        QTest::addColumn<int>("profile");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("payload");
        QTest::addColumn<QByteArray>("header"); // empty: refused
        QTest::newRow("LC 44.1 kHz stereo")
            << 1 << 44100 << 2 << 100 << QByteArray::fromHex("fff150800d7ffc");
        QTest::newRow("main 8 kHz 5.1") << 0 << 8000 << 6 << 100 << QByteArray::fromHex("fff12d800d7ffc");
        // The frame length (payload + 7) has 13 bits: 8191 at most.
        QTest::newRow("longest frame") << 1 << 44100 << 2 << 8184 << QByteArray::fromHex("fff15083fffffc");
        QTest::newRow("a byte too long") << 1 << 44100 << 2 << 8185 << QByteArray();
        QTest::newRow("far too long") << 1 << 44100 << 2 << 9000 << QByteArray();
        QTest::newRow("negative") << 1 << 44100 << 2 << -1 << QByteArray();
    }
    void adtsHeader()
    {
        QFETCH(int, profile);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, payload);
        QFETCH(QByteArray, header);
        av::CodecParametersPtr parameters(avcodec_parameters_alloc());
        parameters->codec_id = AV_CODEC_ID_AAC;
        parameters->profile = profile;
        parameters->sample_rate = rate;
        av_channel_layout_default(&parameters->ch_layout, channels);
        AdtsHeader::Config config;
        QVERIFY(AdtsHeader::configFor(parameters.get(), config));
        const auto bytes = AdtsHeader::header(config, payload);
        QCOMPARE(bytes ? QByteArray(reinterpret_cast<const char *>(bytes->data()), 7).toHex() : QByteArray(),
                 header.toHex());

        // The recorder leaves out the frames the header refuses, and counts them.
        QTemporaryDir dir;
        av::InputContextPtr input(avformat_alloc_context());
        AVStream *video = avformat_new_stream(input.get(), nullptr);
        AVStream *audio = avformat_new_stream(input.get(), nullptr);
        QVERIFY(video && audio);
        video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        video->codecpar->codec_id = AV_CODEC_ID_MPEG4;
        video->time_base = AVRational{1, 25};
        QCOMPARE(avcodec_parameters_copy(audio->codecpar, parameters.get()), 0);
        Recorder::Settings settings;
        settings.saveFile = true;
        settings.saveMp4 = false;
        settings.playAudio = true;
        Recorder recorder;
        recorder.attach(video, audio, settings);
        QVERIFY(recorder.openRaw(dir.filePath("v.mp4")));
        const QByteArray data(qMax(payload, 1), '\0');
        av::PacketPtr packet(av_packet_alloc());
        packet->data = reinterpret_cast<uint8_t *>(const_cast<char *>(data.constData()));
        packet->size = 1;
        packet->dts = packet->pts = 0;
        packet->flags = AV_PKT_FLAG_KEY;
        recorder.writeVideo(packet.get());
        packet->size = payload;
        recorder.writeAudio(packet.get());
        recorder.writeAudio(packet.get());
        recorder.close();
        QCOMPARE(recorder.skippedAudioPackets(), header.isEmpty() && payload > 0 ? 2 : 0);
        QCOMPARE(QFileInfo(dir.filePath("v.aac")).size(), header.isEmpty() ? 0 : 2 * (payload + 7));

        parameters->codec_id = AV_CODEC_ID_MP3;
        QVERIFY(!AdtsHeader::configFor(parameters.get(), config));
    }

    void fileNames()
    {
        // A relative save path lands under the program's directory, and the file name says so.
        const QDateTime now(QDate(2024, 3, 5), QTime(14, 7, 9));
        const QString root = QCoreApplication::applicationDirPath() + "/rec-test";
        QCOMPARE(Recorder::makeFileName("rec-test", "Ch1", now),
                 root + "/2024-03-05/Ch1_2024-03-05-14-07-09.mp4");
        QVERIFY(QFileInfo(root + "/2024-03-05").isDir());
        QDir(root).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(RecordTest)
#include "tst_media_record.moc"
