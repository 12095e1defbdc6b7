// The install tree and the Debian package, as users and their tools see them: `cmake --install` into a
// temporary prefix, `cpack -G DEB` into a temporary folder, then desktop-file-validate, appstreamcli and
// lintian on the results. A validator that is not installed fails its check (scripts/install-deps.sh
// installs them all).
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    bool finished = false;
    int exitCode = -1;
    QString output; // standard output and standard error together
};

Run run(const QString &program, const QStringList &arguments, int timeoutMs = 240000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run result;
    result.finished = process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit;
    if (!result.finished)
        process.kill();
    result.exitCode = process.exitCode();
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

QString describe(const QString &program, const Run &r)
{
    return QStringLiteral("%1: %2, exit %3\n%4")
        .arg(program, r.finished ? QStringLiteral("finished") : QStringLiteral("did not finish"))
        .arg(r.exitCode)
        .arg(r.output);
}

QString tool(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
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

private slots:
    void initTestCase();
    void installTree();
    void desktopEntry();
    void metainfo();
    void debianPackage();
    void lintian();

private:
    QTemporaryDir work;
    QString prefix;
    QString deb;
};

void PackagingTest::initTestCase()
{
    QVERIFY(work.isValid());
    QVERIFY2(!programs().isEmpty(), "TARN_PROGRAMS names no program; run through CTest");
    prefix = work.filePath(QStringLiteral("prefix"));
    const Run r = run(QStringLiteral(CMAKE_COMMAND),
                      {"--install", qEnvironmentVariable("TARN_BINARY_DIR"), "--prefix", prefix});
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(describe("cmake --install", r)));
}

void PackagingTest::installTree()
{
    QStringList expected = {
        "share/applications/" + appId + ".desktop",  "share/icons/hicolor/scalable/apps/" + appId + ".svg",
        "share/metainfo/" + appId + ".metainfo.xml", "share/doc/tarn-player/README.md",
        "share/doc/tarn-player/copyright",           "share/doc/tarn-player/changelog.gz",
        "share/man/man1/tarn-player.1.gz",           TARN_VCAM_INSTALL_DIR "/libtarn-vcam.so",
    };
    for (const QString &p : programs())
        expected << "bin/" + p;
    for (const QString &path : expected)
        QVERIFY2(QFileInfo::exists(prefix + '/' + path), qPrintable(path + " is not installed"));
    for (const QString &p : programs())
        QVERIFY2(QFileInfo(prefix + "/bin/" + p).isExecutable(), qPrintable(p + " is not executable"));
    // Only programs in bin/: no test or benchmark.
    QCOMPARE(QDir(prefix + "/bin").entryList(QDir::Files).size(), programs().size());
}

void PackagingTest::desktopEntry()
{
    const QString file = prefix + "/share/applications/" + appId + ".desktop";

    const QString validator = tool("desktop-file-validate");
    QVERIFY2(!validator.isEmpty(), "desktop-file-validate is not installed (package desktop-file-utils)");
    const Run r = run(validator, {file});
    // It prints nothing for a valid entry; hints are printed as "hint:" and do not fail.
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(describe(validator, r)));
    QVERIFY2(!r.output.contains(QLatin1String("error:")) && !r.output.contains(QLatin1String("warning:")),
             qPrintable(describe(validator, r)));
}

void PackagingTest::metainfo()
{
    const QString validator = tool("appstreamcli");
    QVERIFY2(!validator.isEmpty(), "appstreamcli is not installed (package appstream)");
    const QString file = prefix + "/share/metainfo/" + appId + ".metainfo.xml";
    // --no-net: no link is fetched; --explain says why, should it ever fail.
    const Run r = run(validator, {"validate", "--no-net", "--explain", file});
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(describe(validator, r)));
}

void PackagingTest::debianPackage()
{
    const QString binaryDir = qEnvironmentVariable("TARN_BINARY_DIR");
    const QString out = work.filePath(QStringLiteral("deb"));
    const Run r = run(QStringLiteral(CPACK_COMMAND),
                      {"-G", "DEB", "--config", binaryDir + "/CPackConfig.cmake", "-B", out});
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(describe("cpack", r)));
    const QStringList debs = QDir(out).entryList({"*.deb"}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    deb = out + '/' + debs.first();

    const Run fields = run(QStringLiteral("dpkg-deb"), {"--field", deb, "Package", "Depends", "Recommends"});
    QVERIFY2(fields.finished && fields.exitCode == 0, qPrintable(describe("dpkg-deb --field", fields)));
    // From the linked libraries (dpkg-shlibdeps) ...
    for (const char *linked : {"libc6", "libqt5qml5", "libqt5multimedia5", "libavformat59"})
        QVERIFY2(fields.output.contains(QLatin1String(linked)),
                 qPrintable(linked + (" missing\n" + fields.output)));
    // ... and what the programs load at run time or run.
    for (const char *loaded : {"qml-module-qtquick2", "qml-module-qtquick-controls2",
                               "qml-module-qtmultimedia", "libqt5multimedia5-plugins", "ffmpeg"})
        QVERIFY2(fields.output.contains(QLatin1String(loaded)),
                 qPrintable(loaded + (" missing\n" + fields.output)));

    const Run contents = run(QStringLiteral("dpkg-deb"), {"--contents", deb});
    for (const QString &p : programs())
        QVERIFY2(contents.output.contains("./usr/bin/" + p + '\n'), qPrintable(p + " not in the package"));
    QVERIFY(contents.output.contains("./usr/share/applications/" + appId + ".desktop"));
}

void PackagingTest::lintian()
{
    QVERIFY2(!deb.isEmpty(), "no package was made");
    const QString lintian = tool("lintian");
    QVERIFY2(!lintian.isEmpty(), "lintian is not installed (package lintian)");
    const Run r = run(lintian, {"--tag-display-limit", "0", deb});
    QVERIFY2(r.finished, qPrintable(describe(lintian, r)));
    // Errors and warnings both fail; lintian's remarks about running as root are only printed.
    QStringList findings;
    for (const QString &line : r.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("E: ")) || line.startsWith(QLatin1String("W: ")))
            findings << line;
        else
            qInfo("%s", qPrintable(line));
    }
    QVERIFY2(findings.isEmpty(), qPrintable(findings.join(QLatin1Char('\n'))));
    QVERIFY2(r.exitCode == 0, qPrintable(describe(lintian, r)));
}

QTEST_GUILESS_MAIN(PackagingTest)
#include "tst_packaging.moc"
