// Audio as a listener hears it: the player plays into a PulseAudio server of the test's own (a null sink)
// and the test records the sink. Also the packet-queue threads of sync mode, on real files and streams.
#include "media/FFmpegSync.h"
#include "PlayerProbe.h"
#include "PulseServer.h"
#include "RtmpServer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {
// The left channel of interleaved S16 stereo at 48 kHz: from the first to the last loud sample, its length,
// pitch (rising zero crossings per second) and loudness (RMS).
struct Heard
{
    double seconds = 0, frequency = 0, rms = 0;
};
Heard listen(const QByteArray &pcm)
{
    const auto *s = reinterpret_cast<const qint16 *>(pcm.constData());
    int first = -1, last = -1;
    for (int i = 0; i < pcm.size() / 4; ++i) {
        if (std::abs(s[2 * i]) > 300) {
            first = first < 0 ? i : first;
            last = i;
        }
    }
    Heard heard;
    double power = 0;
    for (int i = first; first >= 0 && i < last; ++i) {
        heard.frequency += s[2 * i] < 0 && s[2 * i + 2] >= 0;
        power += double(s[2 * i]) * s[2 * i];
    }
    heard.seconds = first < 0 ? 0 : double(last - first) / PulseServer::kRate;
    heard.frequency /= std::max(heard.seconds, 1e-9);
    heard.rms = std::sqrt(power / std::max(last - first, 1));
    return heard;
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
        return QFile::exists(path) || TestMedia::ffmpeg(dir.path(), args + ' ' + name) ? path : QString();
    }
    // Video 25 fps and a 1 kHz tone, 3 s.
    QString movie()
    {
        return make("movie.mp4",
                    "-f lavfi -i testsrc2=size=160x120:rate=25:duration=3 -f lavfi -i "
                    "sine=frequency=1000:sample_rate=44100:duration=3 -c:v libx264 -bf 0 -c:a aac");
    }

private slots:
    void initTestCase() { QVERIFY2(pulse.start(), qPrintable(pulse.error())); }

    void playsAsTheFileSounds_data()
    {
        QTest::addColumn<QString>("args"); // ffmpeg arguments of a 3 s 1 kHz tone
        QTest::addColumn<int>("rate");     // the stream's rate
        QTest::newRow("AAC 44.1 kHz stereo") << "sample_rate=44100:duration=3 -ac 2 -c:a aac" << 44100;
        QTest::newRow("AAC 48 kHz 5.1") << "sample_rate=48000:duration=3 -ac 6 -c:a aac" << 48000;
        QTest::newRow("MP3 22.05 kHz mono") << "sample_rate=22050:duration=3 -ac 1 -c:a libmp3lame" << 22050;
        // A rate the output refuses: converted to the output's own.
        QTest::newRow("PCM 768 kHz") << "sample_rate=48000:duration=3 -ac 2 -ar 768000 -c:a pcm_s16le"
                                     << 768000;
    }
    void playsAsTheFileSounds()
    {
        QFETCH(QString, args);
        QFETCH(int, rate);
        const QString file = make(QString::number(rate) + ".mka", "-f lavfi -i sine=frequency=1000:" + args);
        // What the file holds as 16-bit stereo at the sink's rate, by ffmpeg's own decoder and downmix.
        QVERIFY(TestMedia::ffmpeg(dir.path(),
                                  QStringLiteral("-i %1 -ac 2 -ar 48000 -f s16le ref.raw").arg(file)));
        QFile reference(dir.filePath("ref.raw"));
        QVERIFY(reference.open(QIODevice::ReadOnly));
        const Heard expected = listen(reference.readAll());

        PlayerRun run;
        QList<QPair<int, bool>> volumes;
        connect(&run.player, &FFmpegThread::fileVolumeReceive, this,
                [&](int volume, bool muted) { volumes << qMakePair(volume, muted); });
        run.player.setPlayAudio(true);
        QVERIFY(pulse.startRecording());
        QVERIFY(run.play(file));
        const Heard heard = listen(pulse.stopRecording());

        QCOMPARE(volumes, (QList<QPair<int, bool>>{{100, false}}));
        QVERIFY(!run.player.audioOutput.isOpen()); // released with the input
        QVERIFY2(std::abs(heard.frequency - 1000) < 20, qPrintable(QString::number(heard.frequency)));
        // The file's length to its last samples, and as loud as ffmpeg's own decoding.
        QVERIFY2(std::abs(heard.seconds - expected.seconds) < 0.05,
                 qPrintable(QString::number(heard.seconds)));
        QVERIFY2(std::abs(20 * std::log10(heard.rms / expected.rms)) < 1.5,
                 qPrintable(QStringLiteral("%1 against %2").arg(heard.rms).arg(expected.rms)));
    }

    // The pictures still come at the file's pace, which its audio sets: the one of second 2 at least a
    // second after the first (all 75 decode in a fraction of that).
    void withoutPlayAudio_decoderOpensButNothingPlays()
    {
        PlayerRun run;
        QSignalSpy volumes(&run.player, &FFmpegThread::fileVolumeReceive);
        QVERIFY(run.play(movie()));
        const QList<qint64> times = run.arrivals();
        QCOMPARE(times.size(), 75);
        QVERIFY2(times[50] - times[0] >= 1000, qPrintable(QString::number(times[50] - times[0])));
        QCOMPARE(volumes.count(), 0);
        QCOMPARE(run.player.audioOutput.bytesWritten(), 0);
    }

    void nextInputWithoutAudio_doesNotKeepTheOutput()
    {
        PlayerRun run;
        run.player.setPlayAudio(true);
        run.start(movie());
        QTRY_VERIFY_WITH_TIMEOUT(run.player.audioOutput.bytesWritten() > 0, 10000);
        run.player.setUrl(make("silent.mp4", "-f lavfi -i testsrc2=size=160x120:rate=25:duration=3"));
        run.player.play();
        QTRY_COMPARE_WITH_TIMEOUT(run.player.source.audioIndex, -1, 10000);
        QVERIFY(!run.player.audioStarted);
        QVERIFY(!run.player.audioOutput.isOpen());
        QVERIFY(run.waitForFinish());
    }

    // tarn-tool play --audio as a user runs it, with the test's sound server and with none.
    void toolPlay_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("sound server") << true;
        QTest::newRow("no sound server") << false;
    }
    void toolPlay()
    {
        QFETCH(bool, server);
        QTemporaryDir empty;
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", server ? pulse.runtimeDir() : empty.path());
        tool.setProcessEnvironment(env);
        tool.start(TestMedia::builtProgram("tarn-tool"), {"--verbose", "play", "--audio", movie()});
        QVERIFY(tool.waitForFinished(30000));
        const QString out = tool.readAllStandardOutput();
        // Sound asked for and none played is a failure, said in the last line.
        QCOMPARE(tool.exitCode(), server ? 0 : 1);
        QCOMPARE(tool.readAllStandardError().contains(
                     "Raw audio format not supported by backend, cannot play audio."),
                 !server);
        // Every frame, also when the sound has nowhere to go.
        QCOMPARE(out.section('\n', 0, 0), QString("frames delivered 75"));
        QVERIFY2(std::abs(out.section('\n', 1, 1).section(' ', 3, 3).toDouble() - (server ? 3.0 : 0.0)) <
                     0.15,
                 qPrintable(out));
        QCOMPARE(out.section('\n', 2, 2),
                 QString(server ? "audio output started yes" : "audio output started no"));
    }

    // Sync mode, both queue threads, sound on: packets released on the stream clock, positions from files.
    void syncMode_data()
    {
        QTest::addColumn<QString>("input");
        QTest::newRow("file") << "file";
        QTest::newRow("network stream") << "rtmp";
    }
    void syncMode()
    {
        QFETCH(QString, input);
        RtmpServer rtmp;
        QString url = movie();
        if (input == "rtmp") {
            QVERIFY(rtmp.start() && rtmp.publish(url));
            url = rtmp.url();
        }
        PlayerRun run;
        run.player.syncMode = true;
        run.player.setPlayAudio(true);
        QMutex mutex;
        QList<qint64> leads[2], positions[2]; // [audio, video]
        for (FFmpegSync *sync : {run.player.audioSync, run.player.videoSync}) {
            const int kind = sync == run.player.videoSync;
            // How far ahead of the stream clock each packet was when it went to the decoder.
            connect(
                sync, &FFmpegSync::packetDue, this,
                [&, sync, kind](qint64 time) {
                    const qint64 lead = time - sync->streamClock();
                    QMutexLocker locker(&mutex);
                    leads[kind] << (time > 0 ? lead : 0);
                },
                Qt::DirectConnection);
            connect(sync, &FFmpegSync::filePositionReceive, this,
                    [&, kind](qint64 ms) { positions[kind] << ms; });
        }
        QVERIFY(run.play(url, input == "file" ? 0 : 50));

        const int images = run.images().size();
        QVERIFY2(input == "file" ? images == 75 : images >= 50, qPrintable(QString::number(images)));
        QVERIFY2(run.player.audioOutput.microsecondsWritten() > (input == "file" ? 2800000 : 1000000),
                 qPrintable(QStringLiteral("%1 us, %2 dropped")
                                .arg(run.player.audioOutput.microsecondsWritten())
                                .arg(run.player.audioOutput.bytesDropped())));
        for (int kind : {0, 1}) {
            QVERIFY(leads[kind].size() > 40);
            const qint64 tolerance = kind ? FFmpegSync::kVideoTolerance : FFmpegSync::kAudioTolerance;
            for (qint64 lead : leads[kind])
                QVERIFY2(lead <= tolerance && lead > -1000000,
                         qPrintable(QStringLiteral("%1 µs early").arg(lead)));
        }
        // Files only, from the video queue, every 200 ms of stream time.
        QVERIFY(positions[0].isEmpty());
        QCOMPARE(positions[1].isEmpty(), input != "file");
        for (int i = 1; i < positions[1].size(); ++i)
            QVERIFY(positions[1][i] - positions[1][i - 1] >= 200);
    }

    // A stream that starts at 6.4 s and jumps 10 s ahead after its first second: the clock catches up with
    // the jump at once instead of holding the picture back.
    void syncMode_streamThatJumpsAhead_followsAtOnce()
    {
        PlayerRun run;
        run.player.syncMode = true;
        QVERIFY(run.play(make("jumping.ts",
                              "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -vf "
                              "setpts=PTS+gte(N\\,25)*10/TB -fps_mode passthrough -c:v libx264 -bf 0 "
                              "-output_ts_offset 5")));
        const QList<qint64> times = run.arrivals();
        QCOMPARE(times.size(), 50);
        // One frame time across the jump, with room for a loaded machine; 6 s and more when the clock lags.
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
        QCOMPARE(av_buffer_get_ref_count(packet->buf), 51);
        sync.stop();
        QVERIFY(sync.wait(5000));
        QCOMPARE(sync.packetCount(), 0);
        QCOMPARE(av_buffer_get_ref_count(packet->buf), 1);
    }
};

QTEST_MAIN(MediaAudioTest)
#include "tst_media_audio.moc"
