// Every program that a user runs answers --help and --version and names an option it does not
// understand on one line with exit code 2, all without a display. The programs come from the build
// (TARN_PROGRAMS: the names of those that exist, separated by commas; they live in build/bin).
// tarn-player-sim names what is missing when it finds no virtual camera beside itself (tests/qml's
// tst_viewer_e2e runs it with one).
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QStringList programs()
{
    return qEnvironmentVariable("TARN_PROGRAMS").split(QLatin1Char(','), Qt::SkipEmptyParts);
}

QString binary(const QString &program)
{
    return qEnvironmentVariable("TARN_BINARY_DIR") + QStringLiteral("/bin/") + program;
}
} // namespace

class CommandLineTest : public QObject
{
    Q_OBJECT

    QTemporaryDir alone; // a copy of tarn-player-sim without the library beside it

private slots:
    void initTestCase()
    {
        QVERIFY2(!programs().isEmpty(), "TARN_PROGRAMS names no program; run through CTest");
        if (programs().contains(QStringLiteral("tarn-player-sim")))
            QVERIFY(
                QFile::copy(binary("tarn-player-sim"), alone.filePath(QStringLiteral("tarn-player-sim"))));
    }

    void answers_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stdoutPattern"); // must match standard output; empty: nothing printed
        QTest::addColumn<QString>("stderrPattern"); // one line that must match; empty: nothing printed

        for (const QString &p : programs()) {
            const bool viewer = p.startsWith(QLatin1String("tarn-player"));
            // The viewers also name the log categories, the tool its commands; every program tells its usage
            // and options.
            const QString help =
                viewer ? QStringLiteral(
                             "(?s)Usage: .*--version.*--camera.*--device.*--serial.*--layout.*--list-cameras"
                             ".*adduser \\$USER video.*QT_LOGGING_RULES.*tarn\\.media.*tarn\\.ffmpeg")
                : p == QLatin1String("tarn-tool")
                    ? QStringLiteral("(?s)Usage: .*--help.*--version.*merge.*info.*play.*record")
                    : QStringLiteral("(?s)Usage: .*--help.*--version");
            const QString version =
                QStringLiteral("^%1 %2\\n$").arg(p, QRegularExpression::escape(QStringLiteral(TARN_VERSION)));
            const QString unknown = viewer ? QStringLiteral("^%1: unknown option '--no-such-option'").arg(p)
                                           : QStringLiteral("no-such-option");
            auto row = [&](const char *what, const QStringList &args, int code, const QString &out,
                           const QString &err) {
                QTest::addRow("%s %s", qPrintable(p), what) << binary(p) << args << code << out << err;
            };
            row("--help", {"--help"}, 0, help, QString());
            row("-h", {"-h"}, 0, help, QString());
            row("--version", {"--version"}, 0, version, QString());
            row("unknown option", {"--no-such-option"}, 2, QString(), unknown);
            if (viewer) {
                // Qt's own options pass; a stray word does not.
                row("Qt option", {"-platform", "offscreen", "-reverse", "--version"}, 0, version, QString());
                row("stray argument", {"stray"}, 2, QString(), QStringLiteral("^%1: .*'stray'").arg(p));
                // The camera is chosen one way at most, each with a value that can name one.
                row("--device not a node", {"--device", "/tmp/cam"}, 2, QString(),
                    QStringLiteral("^%1: --device .*'/tmp/cam'").arg(p));
                row("--serial with a blank", {"--serial", "A B"}, 2, QString(),
                    QStringLiteral("^%1: --serial .*'A B'").arg(p));
                row("--camera empty", {"--camera", ""}, 2, QString(),
                    QStringLiteral("^%1: --camera ").arg(p));
                row("two choices", {"--camera", "X", "--serial", "Y"}, 2, QString(),
                    QStringLiteral("^%1: choose the camera with one of").arg(p));
                row("--layout unknown", {"--layout", "diagonal"}, 2, QString(),
                    QStringLiteral("^%1: --layout .*'diagonal'").arg(p));
                row("--layout split", {"--layout", "split", "--version"}, 0, version, QString());
            }
            if (p == QLatin1String("tarn-player-sim"))
                row("--list-cameras", {"--list-cameras"}, 0,
                    QStringLiteral(
                        "^/dev/video0  \"Tarn Thermal: UVC Camera\"  serial TV2026A0001\n    YUYV 640x512\n"),
                    QString());
            if (p == QLatin1String("tarn-player-sim"))
                QTest::newRow("tarn-player-sim without its library")
                    << alone.filePath(p) << QStringList() << 1 << QString()
                    << "^tarn-player-sim: .*libtarn-vcam\\.so";
        }
    }
    void answers()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, stdoutPattern);
        QFETCH(QString, stderrPattern);
        // No display at all: answering the command line must not need one.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        QVERIFY2(process.waitForFinished(20000), qPrintable(process.errorString()));
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        const QByteArray both = QStringLiteral("\nstdout:\n%1\nstderr:\n%2").arg(out, err).toLocal8Bit();

        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == exitCode, both);
        QVERIFY2(stdoutPattern.isEmpty() ? out.isEmpty() : out.contains(QRegularExpression(stdoutPattern)),
                 both);
        if (stderrPattern.isEmpty())
            QVERIFY2(err.isEmpty(), both);
        else
            QVERIFY2(err.endsWith('\n') && err.count('\n') == 1 &&
                         err.contains(QRegularExpression(stderrPattern)),
                     both);
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_cli.moc"
