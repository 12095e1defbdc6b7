#include "VirtualCameraBench.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace VirtualCameraBench {

void load(char **argv, const QByteArray &name)
{
    if (qEnvironmentVariable("LD_PRELOAD").contains(QStringLiteral(TARN_VCAM_LIBRARY)))
        return;
    qputenv("LD_PRELOAD", TARN_VCAM_LIBRARY);
    qputenv("TARN_VCAM_STAMP", "1");
    qputenv("TARN_VCAM_CONTROL", "/tmp/" + name + '-' + QByteArray::number(::getpid()));
    // In a sanitizer build the camera comes before the sanitizer's runtime in the load order; that is fine.
    qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    ::execv("/proc/self/exe", argv);
    std::abort();
}

bool send(const QByteArray &command)
{
    const QByteArray line = command + '\n';
    const int fd = ::open(qgetenv("TARN_VCAM_CONTROL").constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const bool sent = fd >= 0 && ::write(fd, line.constData(), size_t(line.size())) == line.size();
    if (fd >= 0)
        ::close(fd);
    return sent;
}

void removeControl()
{
    ::unlink(qgetenv("TARN_VCAM_CONTROL").constData());
}

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(p / 100.0 * (values.size() - 1) + 0.5));
    return values[at];
}

void quietHandler(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace VirtualCameraBench
