/* A minimal C host: the calling order of zxcollector_api.
 *   c_host <log file> <save folder> [seconds]
 * Opens box 0 (the host binds 192.168.201.1), initialises CAN FD channel 0, sets the
 * temperature module to 200 Hz, saves what it reads for a few seconds, and closes. */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 199309L /* nanosleep */
#endif
#include "zxcollector_api.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#if defined(_WIN32)
#include <windows.h>
#endif

static int check(const char* what, int32_t result) {
    if (result != ZX_OK) {
        char text[512];
        ZxGetResultText(result, text, sizeof text);
        fprintf(stderr, "%s failed: %d: %s\n", what, (int)result, text);
        return 0;
    }
    return 1;
}

/* Nothing waiting: give the box a moment instead of spinning on a whole core. */
static void waitForRecords(void) {
#if defined(_WIN32)
    Sleep(5);
#else
    struct timespec pause = {0, 5000000L};
    nanosleep(&pause, NULL);
#endif
}

int main(int argc, char** argv) {
    const uint32_t device = 0;
    const uint32_t channel = 0;
    static ZxCollectData records[1000];
    long total = 0;
    int seconds = 3;
    time_t end;
    int ok = 1;

    if (argc < 3) {
        fprintf(stderr, "usage: %s <log file> <save folder> [seconds]\n", argv[0]);
        return 2;
    }
    if (argc > 3) {
        seconds = atoi(argv[3]);
    }

    ZxOpenLog(argv[1], 1, 10, 5);
    if (!check("ZxOpenDev", ZxOpenDev(0, device, 1)) ||
        !check("ZxInitCANFD", ZxInitCANFD(device, channel, 500000, 2000000))) {
        ZxCloseDev(device);
        ZxCloseLog();
        return 1;
    }
    ok = check("ZxSetModuleSamplingFrequency", ZxSetModuleSamplingFrequency(device, channel, 0x101, 200));
    ok = ok && check("ZxStartSaveFile",
                     ZxStartSaveFile(device, channel, argv[2], "0x101,Temperature\n0x301,Voltage\n", 10));

    end = time(NULL) + seconds;
    while (ok && time(NULL) < end) {
        int32_t n = ZxReadBuffer(device, channel, records, 1000);
        if (n > 0) {
            total += n;
        } else if (n == ZX_ERR_NO_DATA) {
            waitForRecords();
        } else {
            ok = check("ZxReadBuffer", n);
        }
    }

    ok = check("ZxStopSaveFile", ZxStopSaveFile(device, channel)) && ok;
    ok = check("ZxResetCAN", ZxResetCAN(device, channel)) && ok;
    ok = check("ZxCloseDev", ZxCloseDev(device)) && ok;
    ZxCloseLog();
    printf("records read: %ld\n", total);
    return ok && total > 0 ? 0 : 1;
}
