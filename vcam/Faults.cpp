#include "Faults.h"

#include "CameraConfig.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {
int errnoNamed(const char *name)
{
    static const struct
    {
        const char *name;
        int value;
    } known[] = {{"EACCES", EACCES}, {"EBUSY", EBUSY}, {"EIO", EIO}, {"ENODEV", ENODEV}};
    for (const auto &entry : known) {
        if (std::strcmp(entry.name, name) == 0)
            return entry.value;
    }
    return 0;
}

void sleepFor(int milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
} // namespace

Faults &Faults::instance()
{
    static Faults faults;
    return faults;
}

bool Faults::apply(const std::string &command)
{
    int count = 0;
    char name[16] = {};
    if (std::sscanf(command.c_str(), "fail %d %15s", &count, name) == 2) {
        const int error = errnoNamed(name);
        if (count < 0 || !error)
            return false;
        failureErrno = error;
        failuresLeft = count;
        return true;
    }
    int milliseconds = 0;
    if (std::sscanf(command.c_str(), "slow-open %d", &milliseconds) == 1 && milliseconds >= 0) {
        openDelayMs = milliseconds;
        return true;
    }
    if (std::sscanf(command.c_str(), "slow-read %d", &milliseconds) == 1 && milliseconds >= 0) {
        readDelayMs = milliseconds;
        return true;
    }
    return false;
}

int Faults::takeOpenError(bool counted)
{
    int left = counted ? failuresLeft.load() : 0;
    while (left > 0) {
        if (failuresLeft.compare_exchange_weak(left, left - 1))
            return failureErrno.load();
    }
    return CameraConfig::openError();
}

void Faults::delayOpen() const
{
    sleepFor(openDelayMs.load());
}

void Faults::delayControlRead() const
{
    sleepFor(readDelayMs.load());
}
