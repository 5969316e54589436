/* The library's own read rate, as a C host gets it: box 0, CAN FD channel 0, ZxReadBuffer
 * with 10000 records per call.
 *   read_loop stream <seconds>  reads for that long after one second of warm-up, waiting a
 *                               millisecond when nothing is waiting (as zxcollect does;
 *                               spinning would take the CPU from the receive thread)
 *   read_loop drain <seconds>   lets the channel fill for that long, then reads it empty,
 *                               timed by this thread's CPU time (other processes on a
 *                               busy machine do not count)
 * Prints "<records> records in <seconds> s". */
#define _POSIX_C_SOURCE 199309L
#include "zxcollector_api.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static ZxCollectData records[10000];

static double clockSeconds(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static double now(void) {
    return clockSeconds(CLOCK_MONOTONIC);
}

static void pause(double seconds) {
    struct timespec t;
    t.tv_sec = (time_t)seconds;
    t.tv_nsec = (long)((seconds - (double)t.tv_sec) * 1e9);
    nanosleep(&t, NULL);
}

static void stream(double seconds) {
    const double start = now() + 1.0;
    const double end = start + seconds;
    long long total = 0;
    for (;;) {
        const double t = now();
        const int32_t n = ZxReadBuffer(0, 0, records, 10000);
        if (t >= end) {
            printf("%lld records in %.6f s\n", total, t - start);
            return;
        }
        if (n > 0 && t >= start) {
            total += n;
        } else if (n == ZX_ERR_NO_DATA) {
            pause(0.001);
        }
    }
}

static void drain(double seconds) {
    long long total = 0;
    double start;
    int32_t n;
    pause(seconds);
    start = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
    while ((n = ZxReadBuffer(0, 0, records, 10000)) > 0) {
        total += n;
    }
    printf("%lld records in %.6f s\n", total, clockSeconds(CLOCK_THREAD_CPUTIME_ID) - start);
}

int main(int argc, char** argv) {
    const int draining = argc > 1 && strcmp(argv[1], "drain") == 0;
    const double seconds = argc > 2 ? atof(argv[2]) : 5.0;
    if (ZxOpenDev(0, 0, 1) != ZX_OK || ZxInitCANFD(0, 0, 500000, 2000000) != ZX_OK) {
        fprintf(stderr, "read_loop: the box did not open\n");
        return 1;
    }
    if (draining) {
        drain(seconds);
    } else {
        stream(seconds);
    }
    ZxCloseDev(0);
    return 0;
}
