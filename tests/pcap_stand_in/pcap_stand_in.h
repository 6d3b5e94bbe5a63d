/*
 * A scripted stand-in for the capture library. It exports the libpcap calls the library makes on
 * Linux (pcap_create and the settings before pcap_activate, pcap_geterr, pcap_statustostr,
 * pcap_datalink, pcap_setnonblock, pcap_getnonblock, pcap_get_selectable_fd,
 * pcap_get_required_select_timeout, pcap_get_tstamp_precision, pcap_next_ex, pcap_close) and is
 * linked in place of libpcap in test builds, so that a test decides what every call answers and
 * counts what was called. On Windows it is built as a fake wpcap.dll instead, exporting the calls
 * that Mirrowen.dll binds there (pcap_open_live, pcap_setbuff, pcap_datalink, pcap_next_ex,
 * pcap_close) and the StandIn* functions.
 *
 * The script is process-wide; tests that use it run one capture at a time.
 */
#ifndef PCAP_STAND_IN_H
#define PCAP_STAND_IN_H

#include <stdint.h>

#if defined(_WIN32) && defined(PCAP_STAND_IN_BUILDING)
#define PCAP_STAND_IN_API __declspec(dllexport)
#elif defined(_WIN32) && defined(PCAP_STAND_IN_SHARED)
#define PCAP_STAND_IN_API __declspec(dllimport)
#else
#define PCAP_STAND_IN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Forgets the script, the counts and the recorded open arguments; the link type becomes 1. */
PCAP_STAND_IN_API void StandInReset(void);

/* Makes the open fail with this text as the capture library's reason: pcap_open_live with it in
 * its error buffer, pcap_activate with PCAP_ERROR (or `status`) and it in pcap_geterr. */
PCAP_STAND_IN_API void StandInFailOpen(const char* errorText);
PCAP_STAND_IN_API void StandInFailOpenWithStatus(int status, const char* errorText);
/* Leaves this warning text in the error buffer of a successful open (pcap_activate answers
 * PCAP_WARNING). */
PCAP_STAND_IN_API void StandInWarnOnOpen(const char* warningText);
PCAP_STAND_IN_API void StandInSetLinkType(int linkType);
/* Refuses capture buffers larger than this: pcap_activate fails with PCAP_ERROR as Linux does when
 * the kernel refuses a ring, pcap_setbuff answers -1. */
PCAP_STAND_IN_API void StandInRefuseBuffersAbove(int bytes);

/* Queues what the next pcap_next_ex answers. Once the queue is empty it answers -2. */
PCAP_STAND_IN_API void StandInQueueFrame(const unsigned char* bytes, uint32_t capturedLength);
/* A frame captured at this time, reported in nanoseconds where the library asked for them, else in
 * microseconds (Windows always). StandInQueueFrame's frames are captured at 0. */
PCAP_STAND_IN_API void StandInQueueFrameAt(const unsigned char* bytes, uint32_t capturedLength,
                                           int64_t seconds, uint32_t nanoseconds);
/* A frame of which the capture library kept only the first capturedLength of wireLength bytes (a
 * snapshot length below the frame's). */
PCAP_STAND_IN_API void StandInQueueCutFrame(const unsigned char* bytes, uint32_t capturedLength,
                                            uint32_t wireLength);
PCAP_STAND_IN_API void StandInQueueTimeout(void);
PCAP_STAND_IN_API void StandInQueueResult(int result);

#if !defined(_WIN32)
/* Makes pcap_get_selectable_fd answer this descriptor (else -1), and pcap_getnonblock what
 * pcap_setnonblock set, as libpcap does on Linux. */
void StandInOfferSelectableDescriptor(int descriptor);
#endif

/* Called at the start of every pcap_next_ex with its 1-based number, before it answers. */
typedef void (*StandInReadHook)(int readNumber, void* context);
PCAP_STAND_IN_API void StandInOnRead(StandInReadHook hook, void* context);
/* Called by a successful pcap_open_live before it returns. */
typedef void (*StandInOpenHook)(void* context);
PCAP_STAND_IN_API void StandInOnOpen(StandInOpenHook hook, void* context);

/* Opens that succeeded, closes of those handles, and handles not yet closed, opened or not. */
PCAP_STAND_IN_API int StandInOpenCount(void);
PCAP_STAND_IN_API int StandInCloseCount(void);
PCAP_STAND_IN_API int StandInHandlesOpen(void);
PCAP_STAND_IN_API int StandInReadCount(void);
/* The arguments of the last pcap_open_live. */
PCAP_STAND_IN_API const char* StandInOpenedDevice(void);
PCAP_STAND_IN_API int StandInOpenedSnapshotLength(void);
PCAP_STAND_IN_API int StandInOpenedPromiscuous(void);
PCAP_STAND_IN_API int StandInOpenedTimeoutMs(void);
/* The capture buffer sizes asked for, in order: each pcap_activate's (0 when none was set), or each
 * pcap_setbuff's. */
PCAP_STAND_IN_API int StandInBufferRequestCount(void);
PCAP_STAND_IN_API int StandInBufferRequest(int index);

#ifdef __cplusplus
}
#endif

#endif /* PCAP_STAND_IN_H */
