// Every program that a user runs answers --help and --version and names an option it does not
// understand on one line with exit code 2, all without a display. The programs come from the build
// (TARN_PROGRAMS: the names of those that exist, separated by commas; they live in build/bin).
// tarn-player-sim runs the viewer on the virtual camera it finds beside itself, and names what is
// missing when it finds none.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList programs()
{
    return qEnvironmentVariable("TARN_PROGRAMS").split(QLatin1Char(','), Qt::SkipEmptyParts);
}

bool isViewer(const QString &program)
{
    return program.startsWith(QLatin1String("tarn-player"));
}

} // namespace

class CommandLineTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void answers_data();
    void answers();
    void playerSim_opensTheVirtualCameraBesideIt();

private:
    QTemporaryDir alone; // a copy of tarn-player-sim without the library beside it
};

void CommandLineTest::initTestCase()
{
    QVERIFY2(!programs().isEmpty(), "TARN_PROGRAMS names no program; run through CTest");
    if (programs().contains(QStringLiteral("tarn-player-sim")))
        QVERIFY(QFile::copy(qEnvironmentVariable("TARN_BINARY_DIR") + QStringLiteral("/bin/tarn-player-sim"),
                            alone.filePath(QStringLiteral("tarn-player-sim"))));
}

void CommandLineTest::answers_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stdoutPattern"); // must match standard output; empty: nothing printed
    QTest::addColumn<QString>("stderrPattern"); // one line that must match; empty: nothing printed

    const QString version = QStringLiteral(TARN_VERSION);
    for (const QString &p : programs()) {
        // The viewers also name the log categories; every program tells its usage and options.
        const QString help = isViewer(p)
                                 ? QStringLiteral("(?s)Usage: .*--version.*QT_LOGGING_RULES.*tarn\\.media")
                                 : QStringLiteral("(?s)Usage: .*--help.*--version");
        const QString versionLine = QStringLiteral("^%1 %2\\n$").arg(p, QRegularExpression::escape(version));
        const QString unknown = isViewer(p) ? QStringLiteral("^%1: unknown option '--no-such-option'").arg(p)
                                            : QStringLiteral("no-such-option");
        auto row = [&](const char *what, const QStringList &args, int code, const QString &out,
                       const QString &err) {
            QTest::addRow("%s %s", qPrintable(p), what) << p << args << code << out << err;
        };
        row("--help", {"--help"}, 0, help, QString());
        row("-h", {"-h"}, 0, help, QString());
        row("--version", {"--version"}, 0, versionLine, QString());
        row("unknown option", {"--no-such-option"}, 2, QString(), unknown);
        if (isViewer(p)) {
            // Qt's own options pass; a stray word does not.
            row("Qt option", {"-platform", "offscreen", "-reverse", "--version"}, 0, versionLine, QString());
            row("stray argument", {"stray"}, 2, QString(), QStringLiteral("^%1: .*'stray'").arg(p));
        }
        if (p == QLatin1String("tarn-player-sim"))
            QTest::newRow("tarn-player-sim without its library")
                << alone.filePath(p) << QStringList() << 1 << QString()
                << "^tarn-player-sim: .*libtarn-vcam\\.so";
    }
}

void CommandLineTest::answers()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, stdoutPattern);
    QFETCH(QString, stderrPattern);

    const QString path = QFileInfo(program).isAbsolute()
                             ? program
                             : qEnvironmentVariable("TARN_BINARY_DIR") + QStringLiteral("/bin/") + program;
    QVERIFY2(QFileInfo(path).isExecutable(), qPrintable(path + " is not built"));

    // No display at all: answering the command line must not need one.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(path, arguments);
    QVERIFY2(process.waitForFinished(20000), qPrintable(program + " did not finish"));
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    const QString both = QStringLiteral("\nstdout:\n%1\nstderr:\n%2").arg(out, err);

    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(
        process.exitCode() == exitCode,
        qPrintable(QStringLiteral("exit code %1, expected %2").arg(process.exitCode()).arg(exitCode) + both));
    if (stdoutPattern.isEmpty())
        QVERIFY2(out.isEmpty(), qPrintable("unexpected output" + both));
    else
        QVERIFY2(QRegularExpression(stdoutPattern).match(out).hasMatch(), qPrintable(stdoutPattern + both));
    if (stderrPattern.isEmpty()) {
        QVERIFY2(err.isEmpty(), qPrintable("unexpected error output" + both));
    } else {
        QVERIFY2(err.endsWith(QLatin1Char('\n')) && err.count(QLatin1Char('\n')) == 1,
                 qPrintable("not one line" + both));
        QVERIFY2(QRegularExpression(stderrPattern).match(err).hasMatch(), qPrintable(stderrPattern + both));
    }
}

void CommandLineTest::playerSim_opensTheVirtualCameraBesideIt()
{
    if (!programs().contains(QStringLiteral("tarn-player-sim")) || qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs tarn-player-sim and an X display (the suite runs inside xvfb-run)");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tarn.camera.debug=true"));
    QProcess viewer;
    viewer.setProcessEnvironment(env);
    viewer.start(qEnvironmentVariable("TARN_BINARY_DIR") + QStringLiteral("/bin/tarn-player-sim"),
                 QStringList());
    QString err;
    const bool opened = QTest::qWaitFor(
        [&] {
            err += QString::fromLocal8Bit(viewer.readAllStandardError());
            return err.contains(QLatin1String("Open UVC OK And Ready Start Capture"));
        },
        30000);
    viewer.kill();
    viewer.waitForFinished();
    QVERIFY2(opened, qPrintable(err));
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_cli.moc"
