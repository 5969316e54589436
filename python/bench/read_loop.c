/* The library's own read rate, as a C host gets it: box 0, CAN FD channel 0, ZxReadBuffer
 * with 10000 records per call for a number of seconds after one second of warm-up, waiting
 * a millisecond when nothing is waiting (as zxcollect does; spinning would take the CPU
 * from the library's receive thread).
 *   read_loop <seconds>        prints "<records> records in <seconds> s" */
#define _POSIX_C_SOURCE 199309L
#include "zxcollector_api.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    static ZxCollectData records[10000];
    const double seconds = argc > 1 ? atof(argv[1]) : 5.0;
    long long total = 0;
    const struct timespec pause = {0, 1000000};
    double start, end, finished;

    if (ZxOpenDev(0, 0, 1) != ZX_OK || ZxInitCANFD(0, 0, 500000, 2000000) != ZX_OK) {
        fprintf(stderr, "read_loop: the box did not open\n");
        return 1;
    }
    start = now() + 1.0;
    end = start + seconds;
    for (;;) {
        const double t = now();
        const int32_t n = ZxReadBuffer(0, 0, records, 10000);
        if (t >= end) {
            finished = t;
            break;
        }
        if (n > 0 && t >= start) {
            total += n;
        } else if (n == ZX_ERR_NO_DATA) {
            nanosleep(&pause, NULL);
        }
    }
    printf("%lld records in %.3f s\n", total, finished - start);
    ZxCloseDev(0);
    return 0;
}
