#include "Journal.h"

#include "RealCalls.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>

namespace {
int journalFile()
{
    static const int fd = [] {
        const char *path = std::getenv("TARN_VCAM_JOURNAL");
        if (!path || !*path)
            return -1;
        return RealCalls::get().open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }();
    return fd;
}
} // namespace

void Journal::write(const char *format, ...)
{
    const int fd = journalFile();
    if (fd < 0)
        return;
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof line - 1, format, arguments);
    va_end(arguments);
    if (length <= 0)
        return;
    const size_t size = std::min(size_t(length), sizeof line - 2);
    line[size] = '\n';
    (void)RealCalls::get().write(fd, line, size + 1);
}
