#pragma once

#include <cstdio>
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>

// The libc functions the virtual camera stands in front of, as the next library in the lookup order
// answers them (libc itself, or a sanitizer's interceptor). Looked up once; any thread.
struct RealCalls
{
    int (*open)(const char *, int, ...);
    int (*openat)(int, const char *, int, ...);
    int (*close)(int);
    int (*dup)(int);
    int (*dup2)(int, int);
    int (*dup3)(int, int, int);
    int (*fcntl)(int, int, ...);
    int (*ioctl)(int, unsigned long, ...);
    void *(*mmap)(void *, size_t, int, int, int, off_t);
    ssize_t (*read)(int, void *, size_t);
    ssize_t (*write)(int, const void *, size_t);
    int (*poll)(struct pollfd *, nfds_t, int);
    int (*ppoll)(struct pollfd *, nfds_t, const struct timespec *, const sigset_t *);
    int (*fstat)(int, struct stat *);
    int (*stat)(const char *, struct stat *);
    int (*lstat)(const char *, struct stat *);
    int (*fstatat)(int, const char *, struct stat *, int);
    int (*statx)(int, const char *, int, unsigned int, struct statx *);
    int (*access)(const char *, int);
    int (*faccessat)(int, const char *, int, int);
    ssize_t (*readlink)(const char *, char *, size_t);
    char *(*realpath)(const char *, char *);
    FILE *(*fopen)(const char *, const char *);
    DIR *(*opendir)(const char *);
    int (*xstat)(int, const char *, struct stat *);
    int (*lxstat)(int, const char *, struct stat *);
    int (*fxstat)(int, int, struct stat *);

    static const RealCalls &get();
};
