// The install tree and the Debian package, as users and their tools see them: `cmake --install` into a
// temporary prefix, `cpack -G DEB` into a temporary folder, then desktop-file-validate, appstreamcli and
// lintian on the results. A validator that is not installed fails its check (scripts/install-deps.sh
// installs them all).
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {
struct Run
{
    bool ok = false; // finished with exit code 0
    QString output;  // what the program was and how it ended, then its standard output and error together
};

Run run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(240000) && process.exitStatus() == QProcess::NormalExit;
    if (!finished)
        process.kill();
    const QString end = finished ? QStringLiteral("exit %1").arg(process.exitCode()) : "did not finish";
    return {finished && process.exitCode() == 0, program + ' ' + arguments.join(' ') + ": " + end + '\n' +
                                                     QString::fromLocal8Bit(process.readAll())};
}

QStringList programs()
{
    return qEnvironmentVariable("TARN_PROGRAMS").split(QLatin1Char(','), Qt::SkipEmptyParts);
}

const QString appId = QStringLiteral(TARN_APP_ID);
} // namespace

class PackagingTest : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QString prefix = work.filePath("prefix");
    QString deb;

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        QVERIFY2(!programs().isEmpty(), "TARN_PROGRAMS names no program; run through CTest");
        const QString binaryDir = qEnvironmentVariable("TARN_BINARY_DIR");
        Run r = run(CMAKE_COMMAND, {"--install", binaryDir, "--prefix", prefix});
        QVERIFY2(r.ok, qPrintable(r.output));
        r = run(CPACK_COMMAND,
                {"-G", "DEB", "--config", binaryDir + "/CPackConfig.cmake", "-B", work.path()});
        QVERIFY2(r.ok, qPrintable(r.output));
        const QStringList debs = QDir(work.path()).entryList({"*.deb"}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        deb = work.filePath(debs.first());
    }

    void installTree()
    {
        QStringList expected = {
            "share/icons/hicolor/scalable/apps/" + appId + ".svg",
            "share/doc/tarn-player/README.md",
            "share/doc/tarn-player/copyright",
            "share/doc/tarn-player/changelog.gz",
            "share/man/man1/tarn-player.1.gz",
            TARN_VCAM_INSTALL_DIR "/libtarn-vcam.so",
        };
        for (const QString &path : expected)
            QVERIFY2(QFileInfo::exists(prefix + '/' + path), qPrintable(path + " is not installed"));
        for (const QString &p : programs())
            QVERIFY2(QFileInfo(prefix + "/bin/" + p).isExecutable(), qPrintable(p + " is not installed"));
        // Only programs in bin/: no test or benchmark.
        QCOMPARE(QDir(prefix + "/bin").entryList(QDir::Files).size(), programs().size());
    }

    void debianPackage()
    {
        const Run fields = run("dpkg-deb", {"--field", deb, "Package", "Depends", "Recommends"});
        QVERIFY2(fields.ok, qPrintable(fields.output));
        // From the linked libraries (dpkg-shlibdeps), and what the programs load at run time or run.
        for (const char *needed : {"libc6", "libqt5qml5", "libqt5multimedia5", "libavformat59",
                                   "qml-module-qtquick2", "qml-module-qtquick-controls2",
                                   "qml-module-qtmultimedia", "libqt5multimedia5-plugins", "ffmpeg"})
            QVERIFY2(fields.output.contains(QLatin1String(needed)), qPrintable(needed + fields.output));
        const Run contents = run("dpkg-deb", {"--contents", deb});
        for (const QString &p : programs())
            QVERIFY2(contents.output.contains("./usr/bin/" + p + '\n'),
                     qPrintable(p + " not in the package"));
        QVERIFY(contents.output.contains("./usr/share/applications/" + appId + ".desktop"));
    }

    // Errors and warnings both fail; hints, remarks and notes do not.
    void validates_data()
    {
        QTest::addColumn<QString>("validator");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop entry")
            << "desktop-file-validate" << QStringList{prefix + "/share/applications/" + appId + ".desktop"};
        // --no-net: no link is fetched; --explain says why, should it ever fail.
        QTest::newRow("metainfo") << "appstreamcli"
                                  << QStringList{"validate", "--no-net", "--explain",
                                                 prefix + "/share/metainfo/" + appId + ".metainfo.xml"};
        QTest::newRow("package") << "lintian" << QStringList{"--tag-display-limit", "0", deb};
    }
    void validates()
    {
        QFETCH(QString, validator);
        QFETCH(QStringList, arguments);
        const QString path = QStandardPaths::findExecutable(validator);
        QVERIFY2(!path.isEmpty(), qPrintable(validator + " is not installed (scripts/install-deps.sh)"));
        const Run r = run(path, arguments);
        QVERIFY2(r.ok && !r.output.contains(QRegularExpression("(?m)^[EW]: |error:|warning:")),
                 qPrintable(r.output));
    }
};

QTEST_GUILESS_MAIN(PackagingTest)
#include "tst_packaging.moc"
