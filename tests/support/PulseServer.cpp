#include "PulseServer.h"

#include <QFile>
#include <QTest>

#include <csignal>
#include <sys/types.h>

bool PulseServer::start(int timeoutMs)
{
    if (!runtime.isValid()) {
        failure = QStringLiteral("no runtime directory");
        return false;
    }
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    qunsetenv("PULSE_SERVER");
    QProcess daemon;
    daemon.setProcessChannelMode(QProcess::MergedChannels);
    daemon.start("pulseaudio", {"-n", "--daemonize=yes", "--exit-idle-time=-1", "--disallow-exit",
                                "--log-target=stderr", "-L", "module-native-protocol-unix", "-L",
                                QStringLiteral("module-null-sink sink_name=tarn rate=%1").arg(kRate), "-L",
                                "module-always-sink"});
    if (!daemon.waitForFinished(timeoutMs) || daemon.exitCode() != 0) {
        failure = "pulseaudio did not start: " + QString::fromLocal8Bit(daemon.readAll()).trimmed();
        return false;
    }
    running = true;
    if (!QTest::qWaitFor([this] { return pactl({"info"}); }, timeoutMs)) {
        failure = QStringLiteral("pulseaudio does not answer");
        return false;
    }
    return pactl({"set-default-sink", "tarn"});
}

void PulseServer::stop()
{
    if (recorder.state() != QProcess::NotRunning)
        stopRecording();
    // The server was started with --disallow-exit: it ends on a signal to the id it wrote down.
    QFile pidFile(runtime.filePath("pulse/pid"));
    const pid_t pid =
        running && pidFile.open(QIODevice::ReadOnly) ? pid_t(pidFile.readAll().trimmed().toInt()) : 0;
    if (pid > 0 && ::kill(pid, SIGTERM) == 0)
        if (!QTest::qWaitFor([pid] { return ::kill(pid, 0) != 0; }, 5000))
            qWarning("pulseaudio %d did not end", int(pid));
    running = false;
}

bool PulseServer::pactl(const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.start("pactl", arguments);
    return process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

bool PulseServer::startRecording()
{
    const QString file = runtime.filePath("recorded.raw");
    QFile::remove(file);
    // A small latency: otherwise parec holds the last seconds in its buffer and loses them when stopped.
    // Written to a file, so the recording goes on while the test's event loop is busy.
    recorder.start("parec", {"--latency-msec=20", "-d", "tarn.monitor", "--format=s16le",
                             QStringLiteral("--rate=%1").arg(kRate), "--channels=2", "--raw", file});
    if (!recorder.waitForStarted(5000))
        return false;
    // Recording has begun once the first bytes arrive (the monitor sends silence while nothing plays).
    return QTest::qWaitFor([&file] { return QFile(file).size() > 0; }, 5000);
}

QByteArray PulseServer::stopRecording()
{
    recorder.terminate();
    recorder.waitForFinished(5000);
    QFile file(runtime.filePath("recorded.raw"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}
