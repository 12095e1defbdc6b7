#include "SharedState.h"

#include "RealCalls.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr uint32_t kMagic = 0x54564331; // "TVC1"
}

SharedState::SharedState(int node, uint32_t kind, std::vector<int32_t> values)
    : fingerprint(kind), defaults(std::move(values))
{
    initialise(own);
    const std::string path = "/dev/shm/tarn-vcam-video" + std::to_string(node);
    fd = RealCalls::get().open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    ::fchmod(fd, 0666); // every user's programs share the camera, whatever the umask

    struct stat st
    {
    };
    if (::flock(fd, LOCK_EX) != 0 || RealCalls::get().fstat(fd, &st) != 0 ||
        (size_t(st.st_size) < sizeof(Record) && ::ftruncate(fd, sizeof(Record)) != 0)) {
        RealCalls::get().close(fd);
        fd = -1;
        return;
    }
    void *view = RealCalls::get().mmap(nullptr, sizeof(Record), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view != MAP_FAILED) {
        record = static_cast<Record *>(view);
        if (record->magic != kMagic || record->fingerprint != fingerprint)
            initialise(*record);
    }
    ::flock(fd, LOCK_UN);
    if (!record) {
        RealCalls::get().close(fd);
        fd = -1;
    }
}

SharedState::~SharedState()
{
    if (record)
        ::munmap(record, sizeof(Record));
    if (fd >= 0)
        RealCalls::get().close(fd);
}

void SharedState::initialise(Record &target) const
{
    target = Record{};
    target.magic = kMagic;
    target.fingerprint = fingerprint;
    std::copy_n(defaults.begin(), std::min<size_t>(defaults.size(), MaxValues), target.values);
}

void SharedState::locked(const std::function<void(Record &)> &change)
{
    if (!record) {
        change(own);
        return;
    }
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    change(*record);
    ::flock(fd, LOCK_UN);
}

void SharedState::reset()
{
    locked([this](Record &target) { initialise(target); });
}

bool SharedState::heldByOther(const Record &record)
{
    if (record.streamer <= 0 || record.streamer == ::getpid())
        return false;
    if (::kill(record.streamer, 0) != 0 && errno != EPERM)
        return false;
    // A process that ended but was not waited for yet (a zombie) holds nothing any more.
    char path[64], text[256] = {};
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(record.streamer));
    const int fd = RealCalls::get().open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const ssize_t got = RealCalls::get().read(fd, text, sizeof text - 1);
    RealCalls::get().close(fd);
    const char *state = got > 0 ? std::strrchr(text, ')') : nullptr;
    return !(state && state[1] == ' ' && (state[2] == 'Z' || state[2] == 'X'));
}
