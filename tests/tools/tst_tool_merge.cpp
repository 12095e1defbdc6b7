// The merge against raw H.264 and ADTS AAC made by ffmpeg at test time, checked with ffprobe and by
// decoding the result.
#include "tools/FFmpegTool.h"

#include "LogCapture.h"
#include "TestMedia.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray output(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return process.readAllStandardOutput() + process.readAllStandardError();
}

// ffprobe's packets of one kind ("video", "audio") in file, in file order.
QJsonArray packets(const QString &file, const QString &kind)
{
    const QJsonObject all = QJsonDocument::fromJson(output("ffprobe", {"-v", "error", "-print_format", "json",
                                                                       "-show_packets", file}))
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

// The merge's log lines without their leading time of day.
QStringList messages(const LogCapture &log)
{
    static const QRegularExpression time("^\\d\\d:\\d\\d:\\d\\d \\d{3} ");
    QStringList found;
    for (QString line : log.lines()) {
        if (line.contains(time))
            found << line.remove(time);
    }
    return found;
}

struct Outcome
{
    int emitted = 0;
    bool ok = false;
    QString failure;
};

Outcome merge(const QString &h264, const QString &aac, const QString &mp4)
{
    FFmpegTool tool;
    QSignalSpy spy(&tool, &FFmpegTool::mergeFinished);
    tool.h264ToMp4ByCode(h264, aac, mp4);
    return {int(spy.size()), spy.value(0).value(0).toBool(), spy.value(0).value(1).toString()};
}

const double aacFrame = 1024.0 / 44100;
} // namespace

class MergeTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString &name) const { return name.isEmpty() ? name : dir.filePath(name); }
    int firstVideoSize = 0;

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
        QVERIFY(make("-f lavfi -i sine=duration=1.5 -c:a aac -f adts short.aac"));
        QVERIFY(make("-f lavfi -i sine=duration=4 -c:a aac -f adts long.aac"));
        QVERIFY(make("-f lavfi -i testsrc2=size=320x240:rate=25:duration=3 -f lavfi -i sine=duration=3 "
                     "-c:v libx264 -bf 0 -pix_fmt yuv420p -c:a aac source.mp4"));
        QVERIFY(make("-i source.mp4 -map 0:v -c copy -bsf:v h264_mp4toannexb -f h264 back.h264"));
        QVERIFY(make("-i source.mp4 -map 0:a -c copy -f adts back.aac"));
        // Audio whose timestamps jump back half-way: the muxer refuses the first packet after the jump.
        QVERIFY(make("-f lavfi -i sine=duration=1 -c:a aac -muxdelay 0 -muxpreload 0 -f mpegts once.ts"));
        QFile once(path("once.ts")), twice(path("twice.ts"));
        QVERIFY(once.open(QIODevice::ReadOnly) && twice.open(QIODevice::WriteOnly));
        const QByteArray bytes = once.readAll();
        twice.write(bytes + bytes);
        firstVideoSize = packets(path("v.h264"), "video").first()["size"].toString().toInt();
    }

    void mergesRawVideoAtItsFrameRate_data()
    {
        QTest::addColumn<QString>("aac");
        QTest::newRow("no AAC path") << "";
        QTest::newRow("AAC path names no file") << "missing.aac";
    }
    void mergesRawVideoAtItsFrameRate()
    {
        QFETCH(QString, aac);
        LogCapture log;
        const QString mp4 = path("video-" + QString::number(QTest::currentDataTag()[0]) + ".mp4");
        const Outcome outcome = merge(path("v.h264"), path(aac), mp4);
        QVERIFY(outcome.ok);
        QCOMPARE(packets(mp4, "audio").size(), 0);
        const QJsonArray video = packets(mp4, "video");
        QCOMPARE(video.size(), 50);
        for (int i = 0; i < video.size(); ++i) {
            QCOMPARE(qRound(seconds(video[i], "pts_time") * 1000), 40 * i);
            QCOMPARE(qRound(seconds(video[i], "duration_time") * 1000), 40);
        }
        QCOMPARE(output("ffmpeg", {"-v", "error", "-i", mp4, "-f", "null", "-"}), QByteArray());
        const QStringList lines = messages(log);
        QCOMPARE(lines.size(), 50);
        QCOMPARE(lines.first(), QStringLiteral("\"正在写入包 size: %1  pts: 0\"").arg(firstVideoSize));
        QCOMPARE(lines.filter("正在写入包 size: ").size(), 50);
    }

    // The merge ends when the input whose turn it is runs out: short audio is written whole, long audio
    // only up to the end of the video.
    void mergesAudioBesideVideo_data()
    {
        QTest::addColumn<QString>("aac");
        QTest::newRow("audio shorter than video") << "short.aac";
        QTest::newRow("audio longer than video") << "long.aac";
    }
    void mergesAudioBesideVideo()
    {
        QFETCH(QString, aac);
        LogCapture log;
        const QString mp4 = path(aac + ".mp4");
        QVERIFY(merge(path("v.h264"), path(aac), mp4).ok);
        QVERIFY(packets(mp4, "video").size() > 25);
        const double expected = qMin(end(path(aac), "audio"), 2.0); // 50 frames of video
        QVERIFY2(
            qAbs(end(mp4, "audio") - expected) <= aacFrame,
            qPrintable(QString("audio ends at %1 s, expected %2 s").arg(end(mp4, "audio")).arg(expected)));
        QCOMPARE(output("ffmpeg", {"-v", "error", "-i", mp4, "-f", "null", "-"}), QByteArray());
        // At equal times (both 0 at the start) video goes first.
        QCOMPARE(messages(log).value(0),
                 QStringLiteral("\"正在写入包 size: %1  pts: 0\"").arg(firstVideoSize));
        QCOMPARE(messages(log).filter("error").size(), 0);
    }

    void refusesWhatItCannotMerge_data()
    {
        QTest::addColumn<QString>("h264");
        QTest::addColumn<QString>("aac");
        QTest::addColumn<QString>("mp4");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("fileLeft");
        QTest::newRow("missing H.264 file") << "missing.h264"
                                            << "short.aac"
                                            << "a.mp4" << QStringList() << false;
        QTest::newRow("empty MP4 path") << "v.h264"
                                        << "short.aac"
                                        << "" << QStringList() << false;
        QTest::newRow("video input without video")
            << "short.aac"
            << ""
            << "b.mp4" << QStringList{"no video stream h264 error", "error"} << false;
        QTest::newRow("container unknown by name")
            << "v.h264"
            << ""
            << "c.unknown" << QStringList{"avformat_alloc_output_context2 mp4 error", "error"} << false;
        QTest::newRow("output folder missing")
            << "v.h264"
            << ""
            << "none/d.mp4" << QStringList{"avio_open mp4 error", "error"} << false;
        // What was written stays, closed with a trailer.
        QTest::newRow("packet write fails") << "v.h264"
                                            << "twice.ts"
                                            << "e.mp4" << QStringList{"写入包数据出错", "error"} << true;
    }
    void refusesWhatItCannotMerge()
    {
        QFETCH(QString, h264);
        QFETCH(QString, aac);
        QFETCH(QString, mp4);
        QFETCH(QStringList, lines);
        QFETCH(bool, fileLeft);
        LogCapture log;
        const Outcome outcome = merge(path(h264), path(aac), path(mp4));
        QCOMPARE(outcome.emitted, 1);
        QVERIFY(!outcome.ok);
        QCOMPARE(outcome.failure, lines.value(0));
        const QStringList logged = messages(log);
        QCOMPARE(logged.size() - logged.filter("正在写入包").size(), lines.size());
        QCOMPARE(logged.filter(QRegularExpression("^[^\"]")), lines);
        QCOMPARE(QFile::exists(path(mp4)), fileLeft);
        if (fileLeft)
            QVERIFY(end(path(mp4), "video") > 0);
    }

    // Raw streams cut from one MP4 by the ffmpeg CLI come back together in sync.
    void roundTripStaysInSync()
    {
        const QString mp4 = path("back.mp4");
        QVERIFY(merge(path("back.h264"), path("back.aac"), mp4).ok);
        QCOMPARE(output("ffmpeg", {"-v", "error", "-i", mp4, "-f", "null", "-"}), QByteArray());
        const double video = end(mp4, "video"), audio = end(mp4, "audio");
        QVERIFY2(qAbs(video - 3.0) < 0.1 && qAbs(audio - video) <= 0.1,
                 qPrintable(QString("video %1 s, audio %2 s").arg(video).arg(audio)));
    }
};

QTEST_GUILESS_MAIN(MergeTest)
#include "tst_tool_merge.moc"
