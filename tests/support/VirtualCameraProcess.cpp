#include "VirtualCameraProcess.h"

#include <QFile>
#include <QTest>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

void VirtualCameraProcess::load(char **argv, int node)
{
    if (qEnvironmentVariable("LD_PRELOAD").contains(TARN_VCAM_LIBRARY)) {
        std::atexit([] {
            ::unlink(qgetenv("TARN_VCAM_CONTROL").constData());
            ::unlink(qgetenv("TARN_VCAM_JOURNAL").constData());
        });
        return;
    }
    // In front of what is preloaded already (a sanitizer build keeps Mesa's driver loaded that way).
    const QByteArray preloaded = qgetenv("LD_PRELOAD");
    qputenv("LD_PRELOAD", preloaded.isEmpty() ? QByteArray(TARN_VCAM_LIBRARY)
                                              : QByteArray(TARN_VCAM_LIBRARY) + ':' + preloaded);
    qputenv("TARN_VCAM_NODE", QByteArray::number(node));
    const QByteArray pid = QByteArray::number(::getpid()); // execv keeps it
    qputenv("TARN_VCAM_CONTROL", "/tmp/tarn-vcam-control-" + pid);
    qputenv("TARN_VCAM_JOURNAL", "/tmp/tarn-vcam-journal-" + pid);
    QFile::remove(QString::fromUtf8(qgetenv("TARN_VCAM_JOURNAL")));
    // The library comes before a sanitizer's runtime in the load order; that is fine here.
    qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    ::execv("/proc/self/exe", argv);
    std::abort();
}

bool VirtualCameraProcess::send(const QByteArray &command)
{
    const int fd = ::open(qgetenv("TARN_VCAM_CONTROL").constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const QByteArray line = command + '\n';
    const bool sent = ::write(fd, line.constData(), size_t(line.size())) == line.size();
    ::close(fd);
    return sent;
}

bool VirtualCameraProcess::command(const QByteArray &line)
{
    const int skip = journal().size();
    return send(line) &&
           QTest::qWaitFor([&] { return journal().mid(skip).contains("command " + line); }, 5000);
}

bool VirtualCameraProcess::listen(int node)
{
    ::close(::open(qPrintable(QStringLiteral("/dev/video%1").arg(node)), O_RDWR));
    return QTest::qWaitFor([] { return send("control-ok"); }, 5000);
}

QByteArrayList VirtualCameraProcess::journal()
{
    QFile file(QString::fromUtf8(qgetenv("TARN_VCAM_JOURNAL")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArrayList lines = file.readAll().split('\n');
    lines.removeAll(QByteArray());
    return lines;
}
