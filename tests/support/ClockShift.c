/* Preloaded into a test program: moves the wall clock (CLOCK_REALTIME, gettimeofday, time) by
 * the number of seconds written in the file that TARN_CLOCK_SHIFT_FILE names, as an administrator or
 * a time daemon would set the clock. The monotonic clock is left alone. The file is read again
 * whenever it changes, so the process moves its own clock by writing it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>

static long long shiftSeconds(void)
{
    static long long shift = 0;
    static struct timespec seen = {0, 0};
    const char *path = getenv("TARN_CLOCK_SHIFT_FILE");
    struct stat st;
    if (!path || stat(path, &st) != 0)
        return shift;
    if (st.st_mtim.tv_sec != seen.tv_sec || st.st_mtim.tv_nsec != seen.tv_nsec) {
        FILE *file = fopen(path, "r");
        long long value = 0;
        if (file) {
            if (fscanf(file, "%lld", &value) == 1)
                shift = value;
            fclose(file);
        }
        seen = st.st_mtim;
    }
    return shift;
}

int clock_gettime(clockid_t clock, struct timespec *now)
{
    static int (*real)(clockid_t, struct timespec *) = NULL;
    if (!real)
        real = (int (*)(clockid_t, struct timespec *))dlsym(RTLD_NEXT, "clock_gettime");
    const int result = real(clock, now);
    if (result == 0 && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE))
        now->tv_sec += shiftSeconds();
    return result;
}

int gettimeofday(struct timeval *restrict now, void *restrict zone)
{
    static int (*real)(struct timeval *restrict, void *restrict) = NULL;
    if (!real)
        real = (int (*)(struct timeval *restrict, void *restrict))dlsym(RTLD_NEXT, "gettimeofday");
    const int result = real(now, zone);
    if (result == 0 && now)
        now->tv_sec += shiftSeconds();
    return result;
}

time_t time(time_t *out)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (out)
        *out = now.tv_sec;
    return now.tv_sec;
}
