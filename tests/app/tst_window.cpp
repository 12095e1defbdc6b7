// The viewer's entry when the window document cannot be created: exit code -1. (The real window document
// itself is tested in tests/qml.)
#include <QProcess>
#include <QtTest>

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void windowDocumentThatFailsExitsMinusOne();
};

void WindowTest::windowDocumentThatFailsExitsMinusOne()
{
    const QString program = QCoreApplication::applicationDirPath() + "/tarn-broken-window";
    QVERIFY2(QFileInfo::exists(program), "tarn-broken-window is built with the V4L2 camera library");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.start(program, QStringList());
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(static_cast<signed char>(process.exitCode()), -1);
}

QTEST_GUILESS_MAIN(WindowTest)
#include "tst_window.moc"
