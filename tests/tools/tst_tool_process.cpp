// FFmpegTool's child processes: real shells, ffprobe and ffmpeg; output relayed through receiveData.
#include "tools/FFmpegTool.h"

#include "TestMedia.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
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

class ProcessTest : public QObject
{
    Q_OBJECT

private slots:
    void relaysStandardOutputAsText_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("minPieces");
        QTest::newRow("one piece") << "printf 'hello\\n'"
                                   << "hello\n"
                                   << 1;
        // The second piece waits until the first one came through.
        QTest::newRow("in pieces") << "printf one; WAIT; printf ' two'"
                                   << "one two" << 2;
        // 正 (e6 ad a3) cut after its second byte, then 在 (e5 9c a8).
        QTest::newRow("character cut between pieces")
            << "printf '\\346\\255'; WAIT; printf '\\243\\345\\234\\250'"
            << "正在" << 2;
    }
    void relaysStandardOutputAsText()
    {
        QFETCH(QString, script);
        QFETCH(QString, text);
        QFETCH(int, minPieces);
        for (const bool wholeLine : {false, true}) {
            QTemporaryDir dir;
            const QString go = dir.filePath("go");
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

    void mediaInfoAndCommandMergeRunFfmpeg()
    {
        QTemporaryDir dir;
        QVERIFY(TestMedia::ffmpeg(dir.path(),
                                  "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -c:v libx264 "
                                  "-bf 0 -f h264 v.h264"));
        QVERIFY(TestMedia::ffmpeg(dir.path(), "-f lavfi -i sine=duration=1 -c:a aac -f adts a.aac"));
        FFmpegTool tool;
        const QString mp4 = dir.filePath("cmd.mp4");
        runToEnd(tool, [&] { tool.h264ToMp4ByCmd(dir.filePath("v.h264"), dir.filePath("a.aac"), mp4); });
        QCOMPARE(tool.exitCode(), 0);

        const QJsonObject report =
            QJsonDocument::fromJson(
                runToEnd(tool, [&] { tool.getMediaInfo(mp4, true); }).join(QString()).toUtf8())
                .object();
        const QJsonArray streams = report["streams"].toArray();
        QCOMPARE(streams.size(), 2);
        QCOMPARE(streams[0]["codec_name"].toString(), QString("h264"));
        QCOMPARE(streams[1]["codec_name"].toString(), QString("aac"));
        QVERIFY(runToEnd(tool, [&] { tool.getMediaInfo(mp4); }).join(QString()).contains("[STREAM]"));
    }
};

QTEST_GUILESS_MAIN(ProcessTest)
#include "tst_tool_process.moc"
