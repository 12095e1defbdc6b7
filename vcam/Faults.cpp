#include "Faults.h"

#include "CameraConfig.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {
int errnoNamed(const char *name)
{
    static const struct
    {
        const char *name;
        int value;
    } known[] = {{"EACCES", EACCES}, {"EBUSY", EBUSY},         {"EIO", EIO},       {"ENODEV", ENODEV},
                 {"EPIPE", EPIPE},   {"ETIMEDOUT", ETIMEDOUT}, {"EPROTO", EPROTO}, {"EINVAL", EINVAL},
                 {"ERANGE", ERANGE}, {"ENOSPC", ENOSPC}};
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

Faults::Faults()
{
    if (const char *text = std::getenv("TARN_VCAM_WARMUP"))
        warmup = std::max(0, std::atoi(text));
}

bool Faults::takeOne(std::atomic<int> &left)
{
    int now = left.load();
    while (now > 0) {
        if (left.compare_exchange_weak(now, now - 1))
            return true;
    }
    return false;
}

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
    if (std::sscanf(command.c_str(), "slow-write %d", &milliseconds) == 1 && milliseconds >= 0) {
        writeDelayMs = milliseconds;
        return true;
    }
    if (std::sscanf(command.c_str(), "warmup %d", &milliseconds) == 1 && milliseconds >= 0) {
        warmup = milliseconds;
        return true;
    }
    if (std::sscanf(command.c_str(), "control-fail %15s", name) == 1 && errnoNamed(name)) {
        controlErrno = errnoNamed(name);
        return true;
    }
    if (command == "control-ok") {
        controlErrno = 0;
        return true;
    }
    if (command == "enospc") {
        noSpace = true;
        return true;
    }
    if (std::sscanf(command.c_str(), "error-frames %d", &count) == 1 && count >= 0) {
        errorFrames = count;
        return true;
    }
    if (std::sscanf(command.c_str(), "short-frames %d", &count) == 1 && count >= 0) {
        shortFrames = count;
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

void Faults::delayControlWrite() const
{
    sleepFor(writeDelayMs.load());
}
