/*
 * zxcollector_api: plain C functions to a measurement collector whose modules sit
 * on CAN / CAN FD buses behind a VCI network box: thirteen that drive it, and two that
 * describe it (ZxGetResultText, ZxGetVersion).
 *
 * Calling order expected of a host: ZxOpenLog (optional), ZxOpenDev, ZxInitCAN or
 * ZxInitCANFD per channel, then reading, clearing, module configuration and file
 * saving, then ZxResetCAN per channel and/or ZxCloseDev, and ZxCloseLog.
 *
 * Every function returns a signed 32-bit result: 0 is success, a negative value is
 * one of the ZX_* codes below. ZxReadBuffer alone returns a positive record count on
 * success. Closing a device and configuring a module combine the results of their
 * steps with bitwise OR, so compare those results with 0, not with a single code;
 * ZxGetResultText names any result, combined ones included.
 *
 * Texts (the log path, the save folder, the mapping) are narrow, NUL-terminated and in
 * the platform's narrow encoding: the active ANSI code page on Windows (CP_ACP, what
 * the A functions of Windows take; not UTF-8 unless the process runs with code page
 * 65001), the bytes the file system takes on Linux. From Python on Windows encode them
 * with "mbcs", from .NET marshal them as LPStr.
 *
 * Threads: every function may be called from any thread. Reading, clearing and saving
 * on different channels (of one box or several) run concurrently; two reads of the
 * same channel take turns. Requests to one box (init, reset, terminal resistor, close)
 * take turns, one reply awaited at a time per box; different boxes answer in parallel.
 * ZxSetModuleSamplingFrequency calls take turns across the whole process. Reading and
 * saving a channel go on beside requests to its box.
 *
 * Saving is driven by reading: records reach the CSV files as the host reads them with
 * ZxReadBuffer. A host that saves must keep reading (see ZxStartSaveFile).
 */
#ifndef ZXCOLLECTOR_API_H
#define ZXCOLLECTOR_API_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define ZX_CALL __stdcall
#if defined(ZXCOLLECTOR_API_BUILD)
#define ZX_EXPORT __declspec(dllexport)
#else
#define ZX_EXPORT __declspec(dllimport)
#endif
#else
#define ZX_CALL
#if defined(ZXCOLLECTOR_API_BUILD)
#define ZX_EXPORT __attribute__((visibility("default")))
#else
#define ZX_EXPORT
#endif
#endif

/* The version of this header and of the library built from it. ZxGetVersion gives the
 * library's own at run time. */
#define ZXCOLLECTOR_VERSION_MAJOR 3
#define ZXCOLLECTOR_VERSION_MINOR 1
#define ZXCOLLECTOR_VERSION_PATCH 0

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. Several codes share a value; the function that returned it tells
 * which meaning applies. */
enum ZxResultCode {
    ZX_OK = 0,

    ZX_ERR_NO_CHANNEL_CONFIG = -1,   /* ZxInitCAN/ZxInitCANFD: no such device or channel */
    ZX_ERR_LOG_START = -1,           /* ZxOpenLog: the log could not be started */
    ZX_ERR_INVALID_ARGUMENT = -1,    /* ZxReadBuffer: null records, capacity 0 or negative */
    ZX_ERR_MAPPING_ID = -1,          /* ZxStartSaveFile: an identifier in the mapping is not a number */
    ZX_ERR_SAVE_NOT_CONFIGURED = -2, /* ZxStartSaveFile: root directory missing or mapping empty */
    ZX_ERR_NO_BUFFER_MANAGER = -3,   /* ZxReadBuffer/ZxClearBuffer: the reader has no channel buffers */
    ZX_ERR_FILE_WRITER_CREATE = -6,  /* ZxStartSaveFile: a channel file writer could not be created */
    ZX_ERR_SAVE_EXCEPTION = -99,     /* ZxStartSaveFile: saving or its router thread failed to start */
    ZX_ERR_DEVICE_NOT_OPEN = -102,   /* no open device with that index */
    ZX_ERR_OPEN_DEVICE = -401,       /* ZxOpenDev: no connection, or no version reply from the box */
    ZX_ERR_NOT_CONNECTED = -402,     /* ZxInitCAN/ZxInitCANFD: the device is not connected */
    ZX_ERR_UNKNOWN_CHANNEL = -601,   /* the device has no such channel */
    ZX_ERR_NO_DATA = -621,           /* ZxReadBuffer: nothing to read */
    ZX_ERR_OPEN_CAN = -1001,         /* the box did not confirm opening the CAN channel */
    ZX_ERR_CLOSE_CAN = -1002,        /* the box did not confirm closing a CAN channel */
    ZX_ERR_NO_READER = -1003,        /* no reader for (device, channel): initialise the channel first */
    ZX_ERR_CANFD_PARAM = -1011,      /* the box did not confirm a CAN FD parameter */
    ZX_ERR_TERMINAL_RESISTOR = -1021, /* the box did not confirm the terminal-resistor switch */
    ZX_ERR_CLOSE_LIN = -5002,         /* the box did not confirm closing a LIN channel */
    ZX_ERR_MODULE_TIMEOUT = -120000,  /* a module request got no matching reply in time */
    ZX_ERR_MODULE_COMPLETE = -120021, /* leaving module configuration mode failed */
    ZX_ERR_MODULE_ENTER = -120023,    /* entering module configuration mode failed */

    /* Codes of the lower layers; no exported function returns them on their own. */
    ZX_ERR_MODULE_NO_BUFFERS = -2,        /* module request: the device has no channel buffers */
    ZX_ERR_FILE_MANAGER_RUNNING = -3,     /* the file manager is already running */
    ZX_ERR_FILE_MANAGER_STOPPED = -4,     /* the file manager is not running */
    ZX_ERR_DEVICE_CLOSED = -101,          /* the device object was closed before */
    ZX_ERR_SEND_REFUSED = -103,           /* send refused: socket closed or data empty */
    ZX_ERR_SEND_FAILED = -411,            /* the socket send failed */
    ZX_ERR_REQUEST_TIMEOUT = -412,        /* a request to the box got no reply in time */
    ZX_CHANNEL_BUFFER_EMPTY = 621         /* channel buffer read: nothing queued */
};

/* One decoded CAN frame, as ZxReadBuffer hands it to the host: 72 bytes. */
typedef struct ZxCollectData {
    uint32_t canId;      /* identifier of the received CAN frame */
    char timestamp[32];  /* receive time as text, NUL-terminated, at most 31 characters */
    uint32_t reserved;   /* always 0 */
    int32_t values[8];   /* signed little-endian values of data bytes 0..31; all 0 below 32 bytes */
} ZxCollectData;

/* A value that a module does not measure; saved files hold no line for it. */
#define ZX_NO_VALUE (-2147483647)

/* Compile-time checks of the record layout, usable from C89 and C++. */
typedef char ZxCollectDataSizeIs72[(sizeof(ZxCollectData) == 72) ? 1 : -1];
typedef char ZxCollectDataTimestampAt4[(offsetof(ZxCollectData, timestamp) == 4) ? 1 : -1];
typedef char ZxCollectDataReservedAt36[(offsetof(ZxCollectData, reserved) == 36) ? 1 : -1];
typedef char ZxCollectDataValuesAt40[(offsetof(ZxCollectData, values) == 40) ? 1 : -1];

/* Starts the log. The three integers: minimum level written (0 debug, 1 information,
 * 2 warning, 3 error), size of one log file in MiB before it rotates (0 or less: 10),
 * number of rotated files kept besides the current one (0 or less: 5).
 * Returns 0, or -1 when the log could not be started (also for a null path). */
ZX_EXPORT int32_t ZX_CALL ZxOpenLog(const char* logPath, int32_t minLevel, int32_t fileSizeMB,
                                    int32_t fileCount);
/* Stops the log; always 0. */
ZX_EXPORT int32_t ZX_CALL ZxCloseLog(void);

/* Opens the VCI box of deviceIndex (0..15, box 192.168.201.(130 + index), port 8000).
 * hostOctet 1..254 makes the library bind to 192.168.201.<hostOctet>; other values
 * keep the address stored before. The first parameter is accepted and ignored. */
ZX_EXPORT int32_t ZX_CALL ZxOpenDev(uint32_t reserved, uint32_t deviceIndex, int32_t hostOctet);
/* Closes one device, or all of them with deviceIndex 0xFFFFFFFF. */
ZX_EXPORT int32_t ZX_CALL ZxCloseDev(uint32_t deviceIndex);

/* Opens a CAN channel (classic CAN) at bitRate bit/s and creates its reader. */
ZX_EXPORT int32_t ZX_CALL ZxInitCAN(uint32_t deviceIndex, uint32_t channelIndex, uint32_t bitRate);
/* Opens a CAN FD channel with its nominal and data-phase bit rates and creates its reader. */
ZX_EXPORT int32_t ZX_CALL ZxInitCANFD(uint32_t deviceIndex, uint32_t channelIndex, uint32_t bitRate,
                                      uint32_t dataBitRate);
/* Discards the channel's reader (stopping its saving) and closes the channel. */
ZX_EXPORT int32_t ZX_CALL ZxResetCAN(uint32_t deviceIndex, uint32_t channelIndex);
/* Switches the channel's terminal resistor: on for enable == 1, off for any other value. */
ZX_EXPORT int32_t ZX_CALL ZxSetTerminalResistorCAN(uint32_t deviceIndex, uint32_t channelIndex,
                                                   int32_t enable);
/* Sets the sampling frequency (Hz, low 16 bits used) of the module moduleId on the channel.
 * Blocks while the module answers: about 4 s when no module answers. */
ZX_EXPORT int32_t ZX_CALL ZxSetModuleSamplingFrequency(uint32_t deviceIndex, uint32_t channelIndex,
                                                       uint32_t moduleId, int32_t frequency);

/* Takes up to capacity records (at most 10000 per call) received on the channel.
 * Returns the number written (at least 1), ZX_ERR_NO_DATA when nothing is waiting,
 * or another negative code. */
ZX_EXPORT int32_t ZX_CALL ZxReadBuffer(uint32_t deviceIndex, uint32_t channelIndex, ZxCollectData* records,
                                       int32_t capacity);
/* Discards the records waiting on the channel. */
ZX_EXPORT int32_t ZX_CALL ZxClearBuffer(uint32_t deviceIndex, uint32_t channelIndex);

/* Saves every record that the host reads from this channel as CSV files below
 * rootDirectory: one file series per mapped CAN identifier and measurement channel
 * (directories CH1..CH6). idMapping holds entries "identifier,name", each ended by a
 * line break or a ';'; maxFileSizeMB is the size of one file (1..1024, other values
 * give 10).
 *
 * SAVING IS DRIVEN BY READING: only the records the host takes with ZxReadBuffer are
 * saved. Starting, sleeping and stopping without reading returns 0 from every call and
 * writes no data line. Keep reading the channel while it saves. */
ZX_EXPORT int32_t ZX_CALL ZxStartSaveFile(uint32_t deviceIndex, uint32_t channelIndex,
                                          const char* rootDirectory, const char* idMapping,
                                          int32_t maxFileSizeMB);
/* Stops saving on the channel; every file is complete when it returns. */
ZX_EXPORT int32_t ZX_CALL ZxStopSaveFile(uint32_t deviceIndex, uint32_t channelIndex);

/* Writes an English text for a result of any function into text (NUL-terminated, cut
 * to fit capacity bytes): what the code means, by the call that returned it where
 * several share a value, and what to check. A result that ZxCloseDev or
 * ZxSetModuleSamplingFrequency combined from several steps is named as such, with the
 * codes it can hold; any other value gives "unknown result N".
 * Returns 0, or -1 for a null text or a capacity of 0. */
ZX_EXPORT int32_t ZX_CALL ZxGetResultText(int32_t result, char* text, uint32_t capacity);
/* Writes the library's version, "MAJOR.MINOR.PATCH" (e.g. "3.1.0"), NUL-terminated and
 * cut to fit. Returns 0, or -1 for a null text or a capacity of 0. */
ZX_EXPORT int32_t ZX_CALL ZxGetVersion(char* text, uint32_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* ZXCOLLECTOR_API_H */
