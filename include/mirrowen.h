/*
 * Mirrowen: writes the live traffic of one network adapter to disk, one file per frame.
 *
 * This header is the whole contract between a host program and the library. The library exports
 * a single function, Mirrowen, with C linkage and the platform's default C calling convention. A
 * host loads the library (Mirrowen.so with dlopen on Linux, Mirrowen.dll with LoadLibrary on
 * Windows) and binds the function by name ("Mirrowen"); MirrowenFunction below is its type.
 *
 * The call blocks for the whole capture and runs on the calling thread. Every captured frame of
 * more than 60 bytes is written, raw and unchanged, to its own file in the output folder:
 * 1.hda, 2.hda, ... (MIRROWEN_PACKET_FILE_FORMAT below). Each file's modification time is the
 * time the capture library took the frame (where the file system lets it be set; otherwise the
 * time the file was written).
 *
 * The capture library's buffer (the capture ring) is sized for the adapter at each call, so that
 * a busy file system loses no frames and a slow adapter takes little memory: see "The capture
 * ring" below.
 *
 * Host protocol:
 *   - The host owns the two 32-bit integers behind stopFlag and fileCount and keeps them alive
 *     and 4-byte aligned for the whole call. It also owns the adapter name and the folder path
 *     buffer, which must not change while the call runs (the call may shorten the folder path by
 *     cutting one trailing separator off it, in place).
 *   - Once the arguments and the folder have been accepted and the folder claimed, the call
 *     stores 0 into *stopFlag and then 0 into *fileCount. A stop requested before that moment is
 *     overwritten.
 *   - To stop the capture, another thread stores a nonzero value into *stopFlag (a single atomic
 *     32-bit store). The call notices it within about 200 ms and returns ResultFinished.
 *   - *fileCount may be read at any time, also while the call runs: it is the number of the last
 *     packet file that has been completely written and closed, never one still being written.
 *   - Calls on different threads are independent, each into a folder of its own: a call into a
 *     folder that another call, in this process or another, is capturing into is refused with
 *     ResultRefused, *stopFlag and *fileCount untouched. The claim is a lock on the folder, which
 *     leaves no file in it; it ends when the call returns or its process ends, however it ends.
 *     A folder that cannot be claimed at all (one the caller may not open, or on a file system
 *     without such locks) is captured into unclaimed.
 */
#ifndef MIRROWEN_H
#define MIRROWEN_H

#include <stdint.h>

#if defined(_WIN32)
#define MIRROWEN_CALL __cdecl
#else
#define MIRROWEN_CALL
#endif

#if defined(MIRROWEN_BUILDING_LIBRARY) && defined(_WIN32)
#define MIRROWEN_EXPORT __declspec(dllexport)
#elif defined(MIRROWEN_BUILDING_LIBRARY)
#define MIRROWEN_EXPORT __attribute__((visibility("default")))
#else
#define MIRROWEN_EXPORT
#endif

/*
 * The names and limits a host shares with the library.
 *
 * MIRROWEN_ADAPTER_PREFIX: the capture source's prefix, "rpcap://". The call drops the first
 *     MIRROWEN_ADAPTER_PREFIX_LENGTH (8) bytes of adapterName, whatever they are, and opens the
 *     device named by the rest.
 * MIRROWEN_PACKET_FILE_FORMAT: the name of packet file n in the folder, as printf formats it from
 *     the folder path (with no trailing separator) and n: "%s/%d.hda" on Linux, "%s\%d.hda" on
 *     Windows; n counts from 1 in each call. MIRROWEN_PATH_SEPARATOR is the separator,
 *     MIRROWEN_PACKET_FILE_EXTENSION the extension, ".hda".
 * MIRROWEN_SNAPSHOT_LENGTH: the most bytes of a frame that are captured, 65536; a longer frame
 *     is cut to that length, so a packet file holds at most that many bytes.
 * MIRROWEN_LARGEST_SKIPPED_FRAME: frames of this many captured bytes or fewer (60) are never
 *     stored and take no number.
 */
#define MIRROWEN_ADAPTER_PREFIX "rpcap://"
#define MIRROWEN_ADAPTER_PREFIX_LENGTH (sizeof MIRROWEN_ADAPTER_PREFIX - 1)
#if defined(_WIN32)
#define MIRROWEN_PATH_SEPARATOR "\\"
#else
#define MIRROWEN_PATH_SEPARATOR "/"
#endif
#define MIRROWEN_PACKET_FILE_EXTENSION ".hda"
#define MIRROWEN_PACKET_FILE_FORMAT "%s" MIRROWEN_PATH_SEPARATOR "%d" MIRROWEN_PACKET_FILE_EXTENSION
#define MIRROWEN_SNAPSHOT_LENGTH 65536
#define MIRROWEN_LARGEST_SKIPPED_FRAME 60

/*
 * The capture ring: the kernel's or the driver's buffer that holds captured frames until the
 * call has stored them. Its size is chosen at each call, by MirrowenCaptureBufferBytes below:
 *
 * MIRROWEN_CAPTURE_BUFFER_VARIABLE: the environment variable MIRROWEN_CAPTURE_BUFFER_MB. A whole
 *     number of MiB (digits only) from 1 to MIRROWEN_LARGEST_CAPTURE_BUFFER_MB (2047) is the size
 *     to ask for; any other value is ignored.
 * Without it, about one second of what the adapter can deliver at its link speed as the system
 *     reports it (Linux: the kernel's speed of the interface; Windows: the adapter's receive link
 *     speed), rounded up to whole MiB and at most MIRROWEN_LARGEST_DEFAULT_CAPTURE_BUFFER_MB
 *     (384, one second of 1514-byte frames at 250,000 frames/s). An adapter that reports no speed
 *     (loopback, most wireless adapters, tunnels) gets MIRROWEN_UNKNOWN_SPEED_CAPTURE_BUFFER_MB
 *     (64). A size so found below MIRROWEN_SMALLEST_CAPTURE_BUFFER_MB (2) leaves the capture
 *     library's own default (2 MiB on Linux, 1 MiB for Npcap's driver).
 * Either way, never more than a sixteenth of the machine's memory; where that sixteenth is below
 *     MIRROWEN_SMALLEST_CAPTURE_BUFFER_MB, the capture library's own default.
 * Where the kernel or the driver refuses the size, the capture library's own shrinking, or its
 *     default, is what the capture gets.
 */
#define MIRROWEN_CAPTURE_BUFFER_VARIABLE "MIRROWEN_CAPTURE_BUFFER_MB"
#define MIRROWEN_LARGEST_CAPTURE_BUFFER_MB 2047
#define MIRROWEN_LARGEST_DEFAULT_CAPTURE_BUFFER_MB 384
#define MIRROWEN_UNKNOWN_SPEED_CAPTURE_BUFFER_MB 64
#define MIRROWEN_SMALLEST_CAPTURE_BUFFER_MB 2

#ifdef __cplusplus
extern "C" {
#endif

/* The result of a call. ResultFinished is the only success. */
enum MirrowenResult {
    ResultFinished = 1,      /* stopped by the flag, or the capture source ran out of packets */
    ResultRefused = 2,       /* a bad argument, a folder that neither exists nor can be
                                created, or a folder that another call is capturing into (the
                                system's reason then left as below); *stopFlag and *fileCount
                                are left untouched */
    ResultAdapterFailed = 3, /* the adapter could not be opened; the capture library's error
                                text has been shown to the user */
    ResultNotEthernet = 4,   /* the adapter opened but does not carry Ethernet */
    ResultFileFailed = 5,    /* a packet file could not be created, written or closed;
                              *fileCount holds the files completed before it, and the system's
                              reason is left for the caller's thread (see below) */
    ResultCaptureError = 6   /* the capture library failed while reading; *fileCount holds the
                                files written */
};

/*
 * On ResultFileFailed the call returns with the system's error code of the file call that failed
 * left in errno (POSIX: ENOSPC, EDQUOT, EROFS, EACCES, ELOOP for a symbolic link at the file's
 * name, ...) or in GetLastError() (Windows: ERROR_DISK_FULL, ERROR_SHARING_VIOLATION, ...), set
 * after the call's own clean-up, so that the host reads it first thing after the return. A name
 * beyond the platform's path limit gives ENAMETOOLONG (ERROR_FILENAME_EXCED_RANGE), a file number
 * past 2147483647 EOVERFLOW (ERROR_ARITHMETIC_OVERFLOW). On ResultRefused for a folder that another
 * call is capturing into, the code left there is EBUSY (ERROR_SHARING_VIOLATION). After any other
 * result the value there means nothing.
 *
 * adapterName: the capture source, "rpcap://" followed by the device name (the first 8 bytes
 *              are dropped whatever they are). At least 2 bytes.
 * reserved:    never read.
 * folderPath:  the output folder, at least 2 bytes; created if missing (its parent is not).
 * stopFlag:    set to 0 by the call; the host stores nonzero to stop.
 * fileCount:   set to 0 by the call, then the number of packet files completely written.
 * Returns one of MirrowenResult.
 */
MIRROWEN_EXPORT int32_t MIRROWEN_CALL Mirrowen(const char* adapterName, void* reserved,
                                               char* folderPath, int32_t* stopFlag,
                                               int32_t* fileCount);

typedef int32_t(MIRROWEN_CALL* MirrowenFunction)(const char* adapterName, void* reserved,
                                                 char* folderPath, int32_t* stopFlag,
                                                 int32_t* fileCount);

/*
 * The variable's value as the call reads it: the MiB of a whole number (digits only) from 1 to
 * MIRROWEN_LARGEST_CAPTURE_BUFFER_MB, else 0 (also for "", which stands for a variable not set).
 */
static inline uint32_t MirrowenCaptureBufferSettingMiB(const char* setting) {
    uint32_t mib = 0;
    if (*setting == '\0') return 0;
    for (; *setting != '\0'; ++setting) {
        if (*setting < '0' || *setting > '9') return 0;
        mib = mib * 10 + (uint32_t)(*setting - '0');
        if (mib > MIRROWEN_LARGEST_CAPTURE_BUFFER_MB) return 0;
    }
    return mib;
}

/*
 * The capture ring's size in bytes by the rule above, where 0 stands for the capture library's
 * own default. settingMiB: the variable's value, as MirrowenCaptureBufferSettingMiB reads it;
 * linkBitsPerSecond: the adapter's link speed (0: none reported); physicalMemory: the machine's
 * memory in bytes (0: unknown). The call computes the same; a host may use it to tell its user.
 */
static inline uint64_t MirrowenCaptureBufferBytes(uint32_t settingMiB, uint64_t linkBitsPerSecond,
                                                  uint64_t physicalMemory) {
    const uint64_t mib = UINT64_C(1) << 20;
    const uint64_t smallest = MIRROWEN_SMALLEST_CAPTURE_BUFFER_MB * mib;
    uint64_t bytes = 0;
    if (settingMiB >= 1 && settingMiB <= MIRROWEN_LARGEST_CAPTURE_BUFFER_MB) {
        bytes = settingMiB * mib; /* an operator may want less than the smallest */
    } else if (linkBitsPerSecond == 0) {
        bytes = MIRROWEN_UNKNOWN_SPEED_CAPTURE_BUFFER_MB * mib;
    } else {
        const uint64_t largest = MIRROWEN_LARGEST_DEFAULT_CAPTURE_BUFFER_MB * mib;
        const uint64_t oneSecond = (linkBitsPerSecond / 8 + mib - 1) / mib * mib;
        bytes = oneSecond < largest ? oneSecond : largest;
        if (bytes < smallest) return 0;
    }
    if (physicalMemory != 0 && bytes > physicalMemory / 16) {
        bytes = physicalMemory / 16 < smallest ? 0 : physicalMemory / 16;
    }
    return bytes;
}

#ifdef __cplusplus
}
#endif

#endif /* MIRROWEN_H */
