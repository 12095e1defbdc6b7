// The tarn-tool program as a user runs it: exit codes, and one line on standard error when it fails.
// (--help, --version and an unknown option of every program: tests/packaging/tst_cli.)
#include "TestMedia.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class CommandLineTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(TestMedia::ffmpeg(dir.path(),
                                  "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -c:v libx264 "
                                  "-bf 0 -f h264 v.h264"));
        QVERIFY(TestMedia::ffmpeg(dir.path(), "-f lavfi -i sine=duration=1 -c:a aac -f adts a.aac"));
    }

    void answers_data()
    {
        QTest::addColumn<QString>("arguments"); // separated by '|'
        QTest::addColumn<bool>("noPath");       // run without PATH: no ffprobe
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");   // standard output contains this
        QTest::addColumn<QString>("error"); // the one line on standard error contains this; empty: none
        QTest::newRow("help") << "--help" << false << 0 << "info "
                              << "";
        QTest::newRow("command help") << "merge|--help" << false << 0 << "H264 AAC MP4"
                                      << "";
        QTest::newRow("unknown command option") << "info|--frobnicate|v.h264" << false << 2 << ""
                                                << "'frobnicate'";
        QTest::newRow("unknown command") << "frobnicate" << false << 2 << ""
                                         << "'frobnicate'";
        QTest::newRow("no command") << "" << false << 2 << ""
                                    << "no command";
        QTest::newRow("arguments missing") << "merge|v.h264" << false << 2 << ""
                                           << "3 arguments expected";
        QTest::newRow("H.264 missing") << "merge|none.h264|a.aac|m.mp4" << false << 1 << ""
                                       << "none.h264";
        QTest::newRow("AAC missing") << "merge|v.h264|none.aac|m.mp4" << false << 1 << ""
                                     << "none.aac";
        QTest::newRow("merge fails") << "merge|v.h264|a.aac|none/m.mp4" << false << 1 << ""
                                     << "avio_open mp4 error";
        QTest::newRow("merge") << "merge|v.h264|a.aac|m.mp4" << false << 0 << ""
                               << "";
        QTest::newRow("merge video alone") << "merge|v.h264||v.mp4" << false << 0 << ""
                                           << "";
        QTest::newRow("info") << "info|v.h264|--json" << false << 0 << "\"codec_name\": \"h264\""
                              << "";
        QTest::newRow("info of a missing file") << "info|none.mp4" << false << 1 << ""
                                                << "none.mp4";
        QTest::newRow("play without URL") << "play" << false << 2 << ""
                                          << "one URL expected";
        QTest::newRow("play for no time") << "play|--seconds|0|v.h264" << false << 2 << ""
                                          << "--seconds";
        QTest::newRow("play a missing file") << "play|none.mp4" << false << 1 << ""
                                             << "none.mp4";
        QTest::newRow("play what does not open") << "play|a.aac/x.mp4" << false << 1 << ""
                                                 << "no such file";
        QTest::newRow("play") << "play|v.h264" << false << 0 << "frames delivered 25\n"
                              << "";
        QTest::newRow("record help") << "record|--help" << false << 0 << "URL DIR"
                                     << "";
        QTest::newRow("record unreachable") << "record|rtsp://127.0.0.1:1/none|rec" << false << 1 << ""
                                            << "cannot open rtsp://127.0.0.1:1/none";
        QTest::newRow("record into a file") << "record|rtsp://127.0.0.1:1/none|v.h264/rec" << false << 1 << ""
                                            << "cannot write to";
        QTest::newRow("record a local file") << "record|v.h264|rec" << false << 1 << ""
                                             << "only network streams are recorded";
        QTest::newRow("record bad slice") << "record|rtsp://127.0.0.1:1/x|rec|--slice|x" << false << 2 << ""
                                          << "--slice";
        QTest::newRow("info without ffprobe") << "info|v.h264" << true << 1 << ""
                                              << "cannot run ffprobe";
    }
    void answers()
    {
        QFETCH(QString, arguments);
        QFETCH(bool, noPath);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, error);
        QProcess tool;
        tool.setWorkingDirectory(dir.path());
        if (noPath) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("PATH", dir.path());
            tool.setProcessEnvironment(environment);
        }
        tool.start(qEnvironmentVariable("TARN_BINARY_DIR") + "/bin/tarn-tool",
                   arguments.isEmpty() ? QStringList() : arguments.split('|'));
        QVERIFY(tool.waitForFinished(30000));
        const QString stdOut = QString::fromUtf8(tool.readAllStandardOutput());
        const QString stdErr = QString::fromUtf8(tool.readAllStandardError());
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), exitCode);
        QVERIFY2(stdOut.contains(out), qPrintable(stdOut));
        if (error.isEmpty()) {
            QCOMPARE(stdErr, QString());
        } else {
            QCOMPARE(stdErr.count('\n'), 1);
            QVERIFY2(stdErr.startsWith("tarn-tool: ") && stdErr.contains(error), qPrintable(stdErr));
        }
        if (QTest::currentDataTag() == QByteArray("merge"))
            QVERIFY(QFileInfo(dir.filePath("m.mp4")).size() > 0);
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_tool_cli.moc"
