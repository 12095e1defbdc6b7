// FFmpegTool and the tarn-tool program, on raw H.264 and ADTS AAC made by ffmpeg at test time: the merge,
// checked with ffprobe and by decoding the result; the child processes (real shells, ffprobe and ffmpeg)
// whose output is relayed through receiveData; the command line as a user runs it: exit codes, and one line
// on standard error when it fails. (--help, --version and an unknown option: tests/packaging/tst_cli.)
#include "tools/FFmpegTool.h"

#include "TestMedia.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sys/stat.h>

namespace {
// ffprobe's packets of one kind ("video", "audio") in file, in file order.
QJsonArray packets(const QString &file, const QString &kind)
{
    const QJsonObject all =
        QJsonDocument::fromJson(
            TestMedia::output("ffprobe", {"-v", "error", "-print_format", "json", "-show_packets", file})
                .toUtf8())
            .object();
    QJsonArray found;
    for (const QJsonValue packet : all.value("packets").toArray()) {
        if (packet["codec_type"].toString() == kind)
            found << packet;
    }
    return found;
}

double seconds(const QJsonValue &packet, const char *field)
{
    return packet[field].toString().toDouble();
}

// End of the last packet of one kind, in seconds; -1 without such packets.
double end(const QString &file, const QString &kind)
{
    const QJsonArray list = packets(file, kind);
    return list.isEmpty() ? -1 : seconds(list.last(), "pts_time") + seconds(list.last(), "duration_time");
}

// Runs until the child ends (or five seconds pass); returns every receiveData text, in order. With go,
// that file is made once the first text came (a child waiting for it goes on then).
QStringList runToEnd(FFmpegTool &tool, const std::function<void()> &start, const QString &go = QString())
{
    QStringList pieces;
    const auto relay = QObject::connect(&tool, &FFmpegTool::receiveData, [&](const QString &data) {
        pieces << data;
        if (!go.isEmpty())
            QFile(go).open(QIODevice::WriteOnly);
    });
    QSignalSpy finished(&tool, &FFmpegTool::finished);
    start();
    if (finished.isEmpty())
        finished.wait(5000);
    QObject::disconnect(relay);
    return pieces;
}
} // namespace

class ToolTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString &name) const { return name.isEmpty() ? name : dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        const auto make = [this](const QString &args) {
            return TestMedia::ffmpeg(dir.path(), args);
        };
        // Raw H.264 as a camera writes it: 25 fps, no B-frames, no timestamps in the stream.
        QVERIFY(make("-f lavfi -i testsrc2=size=320x240:rate=25:duration=2 -c:v libx264 -bf 0 -g 25 "
                     "-pix_fmt yuv420p -f h264 v.h264"));
        // The same with a header that claims 1,200,000 frames a second.
        QVERIFY(make("-i v.h264 -c copy -bsf:v h264_metadata=tick_rate=2400000 -f h264 fast.h264"));
        // 426 pixels wide: the scaler writes past the end of such rows.
        QVERIFY(make("-f lavfi -i testsrc2=size=426x240:rate=25:duration=1 -c:v libx264 -pix_fmt yuv420p "
                     "w426.mp4"));
        QVERIFY(make("-f lavfi -i sine=duration=1.5 -c:a aac -f adts short.aac"));
        QVERIFY(make("-f lavfi -i sine=duration=4 -c:a aac -f adts long.aac"));
        QVERIFY(make("-f lavfi -i testsrc2=size=320x240:rate=25:duration=3 -f lavfi -i sine=duration=3 "
                     "-c:v libx264 -bf 0 -pix_fmt yuv420p -c:a aac source.mp4"));
        QVERIFY(make("-i source.mp4 -map 0:v -c copy -bsf:v h264_mp4toannexb -f h264 back.h264"));
        QVERIFY(make("-i source.mp4 -map 0:a -c copy -f adts back.aac"));
        // Audio whose timestamps jump back half-way: the muxer refuses the first packet after the jump.
        QVERIFY(make("-f lavfi -i sine=duration=1 -c:a aac -muxdelay 0 -muxpreload 0 -f mpegts once.ts"));
        // A picture stream whose every packet is zeros: it opens, and nothing decodes.
        QFile clean(path("w426.mp4")), zeroed(path("zeroed.mp4"));
        QVERIFY(clean.open(QIODevice::ReadOnly) && zeroed.open(QIODevice::WriteOnly));
        QByteArray movie = clean.readAll();
        const int mdat = movie.indexOf("mdat");
        const int boxSize = qFromBigEndian<qint32>(movie.constData() + mdat - 4);
        movie.replace(mdat + 4, boxSize - 8, QByteArray(boxSize - 8, '\0'));
        zeroed.write(movie);
        // A name in Latin-1, as a file from another system has it: not UTF-8.
        QVERIFY(QFile::copy(path("w426.mp4"), path("latin.mp4")));
        QCOMPARE(::rename(QFile::encodeName(path("latin.mp4")).constData(),
                          (QFile::encodeName(dir.path()) + "/latin-\xe9.mp4").constData()),
                 0);
        // A stream that declares 16,000 x 16,000 pixels.
        QFile huge(path("huge.y4m"));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        huge.write("YUV4MPEG2 W16000 H16000 F25:1 C420jpeg\nFRAME\n" + QByteArray(4096, '\x80'));
        huge.close();
        QCOMPARE(mkfifo(QFile::encodeName(path("idle.fifo")).constData(), 0600), 0);
        QFile once(path("once.ts")), twice(path("twice.ts"));
        QVERIFY(once.open(QIODevice::ReadOnly) && twice.open(QIODevice::WriteOnly));
        const QByteArray bytes = once.readAll();
        twice.write(bytes + bytes);
    }

    // Video is stamped at its frame rate. The merge ends when the input whose turn it is runs out: short
    // audio is written whole (and the video up to it), long audio only up to the end of the video.
    void merges_data()
    {
        QTest::addColumn<QString>("h264");
        QTest::addColumn<QString>("aac");
        QTest::addColumn<QString>("mp4");
        QTest::addColumn<QString>("failure"); // what mergeFinished says; empty: it succeeded or did nothing
        QTest::addColumn<int>("frames");      // of video in the MP4 file; -1: no file is left
        const auto row = [](const char *tag, const char *h264, const char *aac, const char *mp4,
                            const char *failure, int frames) {
            QTest::newRow(tag) << h264 << aac << mp4 << failure << frames;
        };
        row("AAC path names no file", "v.h264", "missing.aac", "b.mp4", "", 50);
        row("audio shorter than video", "v.h264", "short.aac", "c.mp4", "", 39);
        row("audio longer than video", "v.h264", "long.aac", "d.mp4", "", 50);
        // A rate no camera or encoder makes is timed as a stream without one: 25 fps, sound kept.
        row("rate above any camera", "fast.h264", "long.aac", "k.mp4", "", 50);
        // Raw streams cut from one MP4 by the ffmpeg CLI come back together in sync.
        row("round trip", "back.h264", "back.aac", "e.mp4", "", 75);
        // Failures: with nothing done, nothing is said.
        row("missing H.264 file", "missing.h264", "short.aac", "f.mp4", "", -1);
        row("empty MP4 path", "v.h264", "short.aac", "", "", -1);
        row("video input without video", "short.aac", "", "g.mp4", "no video stream h264 error", -1);
        row("container unknown by name", "v.h264", "", "h.unknown",
            "avformat_alloc_output_context2 mp4 error", -1);
        row("output folder missing", "v.h264", "", "none/i.mp4", "avio_open mp4 error", -1);
        // What was written stays, closed with a trailer.
        row("packet write fails", "v.h264", "twice.ts", "j.mp4", "写入包数据出错", 27);
    }
    void merges()
    {
        QFETCH(QString, h264);
        QFETCH(QString, aac);
        QFETCH(QString, mp4);
        QFETCH(QString, failure);
        QFETCH(int, frames);
        FFmpegTool tool;
        QSignalSpy finished(&tool, &FFmpegTool::mergeFinished);
        tool.h264ToMp4ByCode(path(h264), path(aac), path(mp4));
        const bool ok = failure.isEmpty() && frames >= 0;
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first(), (QVariantList{ok, failure}));
        const QString file = path(mp4);
        QCOMPARE(QFile::exists(file), frames >= 0);
        if (frames < 0)
            return;

        QCOMPARE(TestMedia::output("ffmpeg", {"-v", "error", "-i", file, "-f", "null", "-"}, true),
                 QString());
        const QJsonArray video = packets(file, "video");
        QCOMPARE(video.size(), frames);
        for (int i = 0; i < video.size(); ++i) {
            QCOMPARE(qRound(seconds(video[i], "pts_time") * 1000), 40 * i);
            QCOMPARE(qRound(seconds(video[i], "duration_time") * 1000), 40);
        }
        if (!ok)
            return;
        // At equal times (both 0 at the start) video goes first.
        const QJsonArray audio = packets(file, "audio");
        if (QFile::exists(path(aac))) {
            QVERIFY(video.first()["pos"].toString().toLongLong() <
                    audio.first()["pos"].toString().toLongLong());
            const double expected = qMin(end(path(aac), "audio"), end(file, "video"));
            QVERIFY2(qAbs(end(file, "audio") - expected) <= 1024.0 / 44100,
                     qPrintable(QString::number(expected)));
        } else {
            QCOMPARE(audio.size(), 0);
        }
    }

    void relaysStandardOutputAsText_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("minPieces");
        const auto row = [](const char *tag, const char *script, const char *text, int minPieces) {
            QTest::newRow(tag) << script << text << minPieces;
        };
        row("one piece", "printf 'hello\\n'", "hello\n", 1);
        // The second piece waits until the first one came through.
        row("in pieces", "printf one; WAIT; printf ' two'", "one two", 2);
        // 正 (e6 ad a3) cut after its second byte, then 在 (e5 9c a8).
        row("character cut between pieces", "printf '\\346\\255'; WAIT; printf '\\243\\345\\234\\250'",
            "正在", 2);
    }
    void relaysStandardOutputAsText()
    {
        QFETCH(QString, script);
        QFETCH(QString, text);
        QFETCH(int, minPieces);
        for (const bool wholeLine : {false, true}) {
            QTemporaryDir scratch;
            const QString go = scratch.filePath("go");
            const QString command =
                QString(script).replace("WAIT", "while [ ! -e " + go + " ]; do sleep 0.01; done");
            FFmpegTool tool;
            QSignalSpy started(&tool, &FFmpegTool::started);
            const QStringList pieces = runToEnd(
                tool,
                [&] {
                    if (wholeLine)
                        tool.start("sh -c \"" + command + '"');
                    else
                        tool.start("sh", {"-c", command});
                },
                go);
            QCOMPARE(pieces.join(QString()), text);
            QVERIFY(pieces.size() >= minPieces);
            QCOMPARE(started.size(), 1);
            QCOMPARE(tool.exitCode(), 0);
        }
    }

    void missingProgramFailsInOneLine()
    {
        FFmpegTool tool;
        QSignalSpy failed(&tool, &FFmpegTool::processFailed);
        runToEnd(tool, [&] { tool.start("no-such-program-for-tarn", {}); });
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed.first().first().toString().startsWith("cannot run no-such-program-for-tarn: "));
        QCOMPARE(tool.exitCode(), -1);
    }

    // The JSON report (getMediaInfo(file, true)) is read by the command line's "info".
    void commandMergeAndMediaInfoRunFfmpeg()
    {
        FFmpegTool tool;
        const QString mp4 = path("cmd.mp4");
        runToEnd(tool, [&] { tool.h264ToMp4ByCmd(path("v.h264"), path("short.aac"), mp4); });
        QCOMPARE(tool.exitCode(), 0);
        const QString report = runToEnd(tool, [&] { tool.getMediaInfo(mp4); }).join(QString());
        QCOMPARE(report.count("[STREAM]"), 2);
        QVERIFY2(report.contains(QRegularExpression("(?s)codec_name=h264.*codec_name=aac")),
                 qPrintable(report));
    }

    // A file without sound plays at its own pace: its second of pictures takes a second at least (a
    // bound that load cannot break), where --fast decodes them in a fraction of it.
    void playPacesAFileWithoutSound()
    {
        QProcess tool;
        QElapsedTimer clock;
        clock.start();
        tool.start(TestMedia::builtProgram("tarn-tool"), {"play", path("w426.mp4")});
        QVERIFY(tool.waitForFinished(30000));
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY(tool.readAllStandardOutput().startsWith("frames delivered 25\n"));
    }

    void commandLine_data()
    {
        QTest::addColumn<QString>("arguments"); // separated by '|'
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");   // standard output matches this (a regular expression)
        QTest::addColumn<QString>("error"); // the one line on standard error contains this; empty: none
        const auto row = [](const char *tag, const char *arguments, int exitCode, const char *out,
                            const char *error) {
            QTest::newRow(tag) << arguments << exitCode << out << error;
        };
        row("command help", "merge|--help", 0, "H264 AAC MP4", "");
        row("unknown command option", "info|--frobnicate|v.h264", 2, "", "'frobnicate'");
        row("unknown command", "frobnicate", 2, "", "'frobnicate'");
        row("no command", "", 2, "", "no command");
        row("arguments missing", "merge|v.h264", 2, "", "3 arguments expected");
        row("H.264 missing", "merge|none.h264|short.aac|m.mp4", 1, "", "none.h264");
        row("AAC missing", "merge|v.h264|none.aac|m.mp4", 1, "", "none.aac");
        row("merge fails", "merge|v.h264|short.aac|none/m.mp4", 1, "", "avio_open mp4 error");
        row("merge", "merge|v.h264|short.aac|m.mp4", 0, "", "");
        row("merge video alone", "merge|v.h264||v.mp4", 0, "", "");
        row("info", "info|v.h264|--json", 0, "\"codec_name\": \"h264\"", "");
        row("info of a missing file", "info|none.mp4", 1, "", "none.mp4");
        // Run without PATH: there is no ffprobe.
        row("info without ffprobe", "info|v.h264", 1, "", "cannot run ffprobe");
        row("play without URL", "play", 2, "", "one URL expected");
        row("play for no time", "play|--seconds|0|v.h264", 2, "", "--seconds");
        row("play a missing file", "play|none.mp4", 1, "", "none.mp4");
        row("play what does not open", "play|rtsp://127.0.0.1:1/none", 1, "", "cannot open rtsp://");
        row("play", "play|--fast|v.h264", 0, "frames delivered 50\n", "");
        row("play 426 wide", "play|--fast|w426.mp4", 0, "frames delivered 25\n", "");
        row("play, nothing decodes", "play|--fast|zeroed.mp4", 1, "frames delivered 0", "no picture decoded");
        row("play a picture above the limit", "play|--fast|huge.y4m", 1, "", "above the limit");
        row("play sound alone", "play|short.aac", 1, "", "--audio plays its sound");
        row("play a directory", "play|.", 1, "", ". is a directory");
        row("play a FIFO nobody writes", "play|idle.fifo|--seconds|0.5", 1, "", "no writer");
        row("play a name in another encoding", "play|--fast|LATIN", 0, "frames delivered 25\n", "");
        row("play seconds NaN", "play|--seconds|nan|v.h264", 2, "", "0.001 to 86400");
        row("play seconds below 1 ms", "play|--seconds|0.0001|v.h264", 2, "", "0.001 to 86400");
        row("play seconds too many", "play|--seconds|1e12|v.h264", 2, "", "0.001 to 86400");
        row("merge, sound after the video", "merge|v.h264|long.aac|l.mp4", 0, "were not written", "");
        row("merge, no sound in AAC", "merge|v.h264|v.h264|n.mp4", 1, "", "no sound taken from");
        row("record help", "record|--help", 0, "URL DIR", "");
        row("record unreachable", "record|rtsp://127.0.0.1:1/none|rec", 1, "",
            "cannot open rtsp://127.0.0.1:1/none");
        row("record into a file", "record|rtsp://127.0.0.1:1/none|v.h264/rec", 1, "", "cannot write to");
        row("record a local file", "record|v.h264|rec", 1, "", "only network streams are recorded");
        row("record a FIFO", "record|idle.fifo|rec", 1, "", "idle.fifo is a FIFO, not a network stream");
        row("record bad slice", "record|rtsp://127.0.0.1:1/x|rec|--slice|x", 2, "", "--slice");
        // Times are checked against their ranges before anything counts in ms.
        row("record for NaN seconds", "record|rtsp://127.0.0.1:1/x|rec|--seconds|nan", 2, "",
            "--seconds takes a number of seconds from 0.001 to 2678400 (31 days)");
        row("record for too short", "record|rtsp://127.0.0.1:1/x|rec|--seconds|0.0000001", 2, "",
            "--seconds");
        row("record for too long", "record|rtsp://127.0.0.1:1/x|rec|--seconds|2678401", 2, "", "--seconds");
        row("record huge slices", "record|rtsp://127.0.0.1:1/x|rec|--slice|2147483647", 2, "",
            "--slice takes 0 (one file) or whole seconds from 1 to 86400 (24 h)");
        // Past where seconds * 1000 overflowed an int: taken, and the open fails.
        row("record for 25 days", "record|rtsp://127.0.0.1:1/none|rec|--seconds|2147484|--slice|86400", 1, "",
            "cannot open rtsp://");
    }
    void commandLine()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, error);
        QProcess tool;
        tool.setWorkingDirectory(dir.path());
        QStringList given = arguments.isEmpty() ? QStringList() : arguments.split('|');
        // The Latin-1 name, given in the system's bytes under a UTF-8 locale.
        if (given.contains("LATIN")) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("LC_ALL", "C.UTF-8");
            tool.setProcessEnvironment(environment);
            tool.setProgram("/bin/sh");
            given = QStringList{"-c", "exec \"$0\" \"$@\" \"$(printf 'latin-\\351.mp4')\"",
                                TestMedia::builtProgram("tarn-tool")} +
                    given.mid(0, given.size() - 1);
        }
        if (QTest::currentDataTag() == QByteArray("info without ffprobe")) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("PATH", dir.path());
            tool.setProcessEnvironment(environment);
        }
        if (tool.program().isEmpty())
            tool.setProgram(TestMedia::builtProgram("tarn-tool"));
        tool.setArguments(given);
        tool.start();
        QVERIFY(tool.waitForFinished(30000));
        const QString stdOut = QString::fromUtf8(tool.readAllStandardOutput());
        const QString stdErr = QString::fromUtf8(tool.readAllStandardError());
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), exitCode);
        QVERIFY2(stdOut.contains(QRegularExpression(out)), qPrintable(stdOut));
        if (error.isEmpty()) {
            QCOMPARE(stdErr, QString());
        } else {
            QCOMPARE(stdErr.count('\n'), 1);
            QVERIFY2(stdErr.startsWith("tarn-tool: ") && stdErr.contains(error), qPrintable(stdErr));
        }
        if (exitCode == 0 && arguments.endsWith(".mp4"))
            QVERIFY(QFileInfo(dir.filePath(arguments.section('|', -1))).size() > 0);
    }
};

QTEST_GUILESS_MAIN(ToolTest)
#include "tst_tool.moc"
