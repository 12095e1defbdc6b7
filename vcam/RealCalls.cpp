#include "RealCalls.h"

#include <dlfcn.h>

namespace {
template <class F> void find(F &function, const char *name)
{
    function = reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

RealCalls lookUp()
{
    RealCalls calls{};
    find(calls.open, "open64");
    find(calls.openat, "openat64");
    find(calls.close, "close");
    find(calls.dup, "dup");
    find(calls.dup2, "dup2");
    find(calls.dup3, "dup3");
    find(calls.fcntl, "fcntl64");
    find(calls.ioctl, "ioctl");
    find(calls.mmap, "mmap64");
    find(calls.read, "read");
    find(calls.write, "write");
    find(calls.poll, "poll");
    find(calls.ppoll, "ppoll");
    find(calls.fstat, "fstat64");
    find(calls.stat, "stat64");
    find(calls.lstat, "lstat64");
    find(calls.fstatat, "fstatat64");
    find(calls.statx, "statx");
    find(calls.access, "access");
    find(calls.faccessat, "faccessat");
    find(calls.readlink, "readlink");
    find(calls.realpath, "realpath");
    find(calls.fopen, "fopen64");
    find(calls.opendir, "opendir");
    find(calls.xstat, "__xstat64");
    find(calls.lxstat, "__lxstat64");
    find(calls.fxstat, "__fxstat64");
    return calls;
}
} // namespace

const RealCalls &RealCalls::get()
{
    static const RealCalls calls = lookUp();
    return calls;
}
