// Audio as a listener hears it: the player plays into a PulseAudio server of the test's own (a null sink)
// and the test records the sink. Also the packet-queue threads of sync mode, on real files and streams.
#include "capture/CaptureSourceRegistry.h"
#include "LogCapture.h"
#include "media/FFmpegSync.h"
#include "PlayerProbe.h"
#include "PulseServer.h"
#include "RtmpServer.h"
#include "TestMedia.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {
// What the left channel of interleaved S16 stereo holds: where the sound is, its pitch and loudness.
struct Heard
{
    double seconds = 0;   // from the first to the last loud sample
    double frequency = 0; // rising zero crossings per second over that span
    double rms = 0;
};

Heard listen(const QByteArray &pcm, int rate)
{
    const auto *samples = reinterpret_cast<const qint16 *>(pcm.constData());
    const int count = int(pcm.size() / 4);
    int first = -1, last = -1;
    for (int i = 0; i < count; ++i) {
        if (std::abs(samples[2 * i]) > 300) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    Heard heard;
    if (first < 0 || last <= first)
        return heard;
    int crossings = 0;
    double power = 0;
    for (int i = first; i < last; ++i) {
        crossings += samples[2 * i] < 0 && samples[2 * i + 2] >= 0;
        power += double(samples[2 * i]) * samples[2 * i];
    }
    heard.seconds = double(last - first) / rate;
    heard.frequency = crossings / heard.seconds;
    heard.rms = std::sqrt(power / (last - first));
    return heard;
}

double decibels(double a, double b)
{
    return 20 * std::log10(a / b);
}
} // namespace

class MediaAudioTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    PulseServer pulse;

    QString make(const QString &name, const QString &args)
    {
        const QString path = dir.filePath(name);
        if (!QFile::exists(path) && !TestMedia::ffmpeg(dir.path(), args + ' ' + name))
            return {};
        return path;
    }
    // Video 25 fps and a 1 kHz tone, 3 s.
    QString movie()
    {
        return make("movie.mp4",
                    "-f lavfi -i testsrc2=size=160x120:rate=25:duration=3 -f lavfi -i "
                    "sine=frequency=1000:sample_rate=44100:duration=3 -c:v libx264 -bf 0 -c:a aac -ac 2");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY2(pulse.start(), qPrintable(pulse.error()));
    }

    void playsAsTheFileSounds_data()
    {
        QTest::addColumn<QString>("args"); // ffmpeg arguments that make the file
        QTest::addColumn<int>("rate");     // the stream's rate, which the output must take
        QTest::addColumn<double>("seconds");
        QTest::newRow("AAC 44.1 kHz stereo")
            << "-f lavfi -i sine=frequency=1000:sample_rate=44100:duration=3 -ac 2 -c:a aac" << 44100 << 3.0;
        QTest::newRow("AAC 48 kHz 5.1")
            << "-f lavfi -i sine=frequency=1000:sample_rate=48000:duration=3 -ac 6 -c:a aac" << 48000 << 3.0;
        QTest::newRow("MP3 22.05 kHz mono")
            << "-f lavfi -i sine=frequency=1000:sample_rate=22050:duration=3 -ac 1 -c:a libmp3lame" << 22050
            << 3.0;
    }
    void playsAsTheFileSounds()
    {
        QFETCH(QString, args);
        QFETCH(int, rate);
        QFETCH(double, seconds);
        const QString file = make(QString(QTest::currentDataTag()).replace(' ', '_') + ".mka", args);
        QVERIFY(!file.isEmpty());
        // What the file holds as 16-bit stereo at the sink's rate, by ffmpeg's own decoder and downmix.
        const QString reference = dir.filePath("reference.raw");
        QVERIFY(TestMedia::ffmpeg(dir.path(), QStringLiteral("-i %1 -ac 2 -ar %2 -f s16le %3")
                                                  .arg(file)
                                                  .arg(PulseServer::kRate)
                                                  .arg(reference)));
        QFile referenceFile(reference);
        QVERIFY(referenceFile.open(QIODevice::ReadOnly));
        const Heard expected = listen(referenceFile.readAll(), PulseServer::kRate);

        LogCapture log;
        PlayerRun run;
        QList<QPair<int, bool>> volumes;
        connect(&run.player, &FFmpegThread::fileVolumeReceive, this,
                [&](int volume, bool muted) { volumes << qMakePair(volume, muted); });
        run.player.setPlayAudio(true);
        QVERIFY(pulse.startRecording());
        QVERIFY(run.play(file));
        const Heard heard = listen(pulse.stopRecording(), PulseServer::kRate);

        QCOMPARE(volumes, (QList<QPair<int, bool>>{{100, false}}));
        QVERIFY(log.contains(QStringLiteral("声道数: 2  采样: %1").arg(rate)));
        QVERIFY(!log.contains("Raw audio format not supported"));
        QVERIFY2(std::abs(heard.frequency - 1000) < 20, qPrintable(QString::number(heard.frequency)));
        // The file's length, to its end: the last samples are not lost when the output closes.
        QVERIFY2(std::abs(heard.seconds - seconds) < seconds * 0.05,
                 qPrintable(QString::number(heard.seconds)));
        QVERIFY2(std::abs(heard.seconds - expected.seconds) < 0.05,
                 qPrintable(QStringLiteral("%1 s against %2 s").arg(heard.seconds).arg(expected.seconds)));
        QVERIFY2(std::abs(decibels(heard.rms, expected.rms)) < 1.5,
                 qPrintable(QStringLiteral("%1 against %2").arg(heard.rms).arg(expected.rms)));
        // The output was released with the input.
        QVERIFY(!run.player.audioOutput.isOpen());
    }

    void withoutPlayAudio_decoderOpensButNothingPlays()
    {
        LogCapture log;
        PlayerRun run;
        QSignalSpy volumes(&run.player, &FFmpegThread::fileVolumeReceive);
        QVERIFY(run.play(movie()));
        QCOMPARE(run.images().size(), 75);
        QVERIFY(log.contains("音频信息 -> 索引: 1  解码: aac"));
        QCOMPARE(volumes.count(), 0);
        QCOMPARE(run.player.audioOutput.bytesWritten(), 0);
    }

    void nextInputWithoutAudio_doesNotKeepTheOutput()
    {
        const QString silent =
            make("silent.mp4", "-f lavfi -i testsrc2=size=160x120:rate=25:duration=3 -c:v libx264");
        PlayerRun run;
        run.player.setPlayAudio(true);
        run.start(movie());
        QTRY_VERIFY_WITH_TIMEOUT(run.player.audioOutput.bytesWritten() > 0, 10000);
        run.player.setUrl(silent);
        run.player.play();
        QTRY_COMPARE_WITH_TIMEOUT(run.player.source.audioIndex, -1, 10000);
        QVERIFY(!run.player.audioStarted);
        QVERIFY(!run.player.audioOutput.isOpen());
        QVERIFY(run.waitForFinish());
    }

    // tarn-tool play --audio as a user runs it, with the test's sound server and with none.
    void toolPlay_withAndWithoutSoundServer_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("sound server") << true;
        QTest::newRow("no sound server") << false;
    }
    void toolPlay_withAndWithoutSoundServer()
    {
        QFETCH(bool, server);
        QTemporaryDir empty;
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", server ? pulse.runtimeDir() : empty.path());
        tool.setProcessEnvironment(env);
        tool.start(qEnvironmentVariable("TARN_BINARY_DIR") + "/bin/tarn-tool",
                   {"--verbose", "play", "--audio", movie()});
        QVERIFY(tool.waitForFinished(30000));
        const QString out = tool.readAllStandardOutput(), err = tool.readAllStandardError();
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(err.contains("Raw audio format not supported by backend, cannot play audio."), !server);
        // Every frame, also when the sound has nowhere to go.
        QVERIFY2(out.contains("frames delivered 75\n"), qPrintable(out));
        QVERIFY2(out.contains(server ? "audio output started yes\n" : "audio output started no\n"),
                 qPrintable(out));
        const QRegularExpressionMatch written =
            QRegularExpression("audio seconds written ([0-9.]+)\n").match(out);
        QVERIFY2(written.hasMatch(), qPrintable(out));
        QVERIFY2(std::abs(written.captured(1).toDouble() - (server ? 3.0 : 0.0)) < 0.15, qPrintable(out));
    }

    void syncMode_releasesPacketsOnTheStreamClock()
    {
        PlayerRun run;
        run.player.syncMode = true;
        run.player.setPlayAudio(true);
        // How far ahead of the stream clock each packet was when it was handed to the decoder.
        QMutex mutex;
        QMap<int, QList<qint64>> leads;
        for (FFmpegSync *sync : {run.player.audioSync, run.player.videoSync}) {
            const int kind = sync == run.player.audioSync ? 0 : 1;
            connect(
                sync, &FFmpegSync::packetDue, this,
                [&, sync, kind](qint64 time) {
                    const qint64 lead = time - sync->streamClock();
                    QMutexLocker locker(&mutex);
                    if (time > 0)
                        leads[kind] << lead;
                },
                Qt::DirectConnection);
        }
        QVERIFY(pulse.startRecording());
        QVERIFY(run.play(movie()));
        const Heard heard = listen(pulse.stopRecording(), PulseServer::kRate);

        QCOMPARE(run.images().size(), 75);
        QVERIFY2(std::abs(heard.frequency - 1000) < 20, qPrintable(QString::number(heard.frequency)));
        QVERIFY(leads[0].size() > 100 && leads[1].size() > 60);
        for (int kind : {0, 1}) {
            const qint64 tolerance = kind == 0 ? FFmpegSync::kAudioTolerance : FFmpegSync::kVideoTolerance;
            for (qint64 lead : leads[kind]) {
                QVERIFY2(lead <= tolerance, qPrintable(QStringLiteral("%1 µs early").arg(lead)));
                QVERIFY2(lead > -1000000, qPrintable(QStringLiteral("%1 µs late").arg(-lead)));
            }
        }
    }

    void syncMode_positionsOfFilesOnly_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("reports");
        QTest::newRow("file") << "file" << true;
        QTest::newRow("capture device") << "device" << false;
        QTest::newRow("network stream") << "rtmp" << false;
    }
    void syncMode_positionsOfFilesOnly()
    {
        QFETCH(QString, input);
        QFETCH(bool, reports);
        RtmpServer rtmp;
        QString url = movie();
        if (input == "device") {
            CaptureSourceRegistry::add("Audio Cam", {url, "mov"});
            url = "video=Audio Cam";
        } else if (input == "rtmp") {
            QVERIFY(rtmp.start());
            QVERIFY(rtmp.publish(url));
            url = rtmp.url();
        }
        PlayerRun run;
        run.player.syncMode = true;
        QList<qint64> positions[2];
        for (FFmpegSync *sync : {run.player.audioSync, run.player.videoSync}) {
            connect(sync, &FFmpegSync::filePositionReceive, this,
                    [&positions, kind = sync == run.player.audioSync ? 0 : 1](qint64 ms) {
                        positions[kind] << ms;
                    });
        }
        QVERIFY(run.play(url, 50));
        if (input == "device")
            CaptureSourceRegistry::remove("Audio Cam");
        // The video queue reports, every 200 ms of stream time, from a clock that only goes forward.
        QVERIFY(positions[0].isEmpty());
        QCOMPARE(!positions[1].isEmpty(), reports);
        for (int i = 1; i < positions[1].size(); ++i)
            QVERIFY(positions[1][i] - positions[1][i - 1] >= 200);
    }

    // A stream that starts at 6.4 s and jumps 10 s ahead after its first second: the clock catches up with
    // the jump at once instead of holding the picture back.
    void syncMode_streamThatJumpsAhead_followsAtOnce()
    {
        const QString jumping =
            make("jumping.ts",
                 "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -vf setpts=PTS+gte(N\\,25)*10/TB "
                 "-fps_mode passthrough -c:v libx264 -bf 0 -output_ts_offset 5");
        QVERIFY(!jumping.isEmpty());
        PlayerRun run;
        run.player.syncMode = true;
        QElapsedTimer clock;
        QList<qint64> times;
        connect(
            &run.player, &FFmpegThread::receiveImage, this, [&](const QImage &) { times << clock.elapsed(); },
            Qt::DirectConnection);
        clock.start();
        QVERIFY(run.play(jumping));
        QCOMPARE(times.size(), 50);
        // One frame time across the jump, with room for a loaded machine; 6 s when the clock lags.
        QVERIFY2(times[25] - times[24] < 2500, qPrintable(QString::number(times[25] - times[24])));
    }

    void stop_releasesEveryQueuedPacket()
    {
        PlayerProbe owner;
        owner.pause(); // nothing is decoded: the packets stay queued
        FFmpegSync sync(FFmpegSync::Video, &owner);
        sync.start();
        av::PacketPtr packet(av_packet_alloc());
        QCOMPARE(av_new_packet(packet.get(), 64), 0);
        for (int i = 0; i < 50; ++i)
            sync.append(av_packet_clone(packet.get()));
        QCOMPARE(sync.packetCount(), 50);
        QCOMPARE(av_buffer_get_ref_count(packet->buf), 51);
        sync.stop();
        QVERIFY(sync.wait(5000));
        QCOMPARE(sync.packetCount(), 0);
        QCOMPARE(av_buffer_get_ref_count(packet->buf), 1);
    }
};

QTEST_MAIN(MediaAudioTest)
#include "tst_media_audio.moc"
