/*
 * A scripted stand-in for the capture library. It exports the libpcap calls the library makes
 * (pcap_open_live, pcap_datalink, pcap_setnonblock, pcap_getnonblock, pcap_get_selectable_fd,
 * pcap_get_required_select_timeout, pcap_next_ex, pcap_close) and is linked in place of libpcap
 * in test builds, so that a test decides what every call answers and counts what was called. On
 * Windows it is built as a fake wpcap.dll instead, exporting the four calls that Mirrowen.dll binds
 * there (pcap_open_live, pcap_datalink, pcap_next_ex, pcap_close) and the StandIn* functions.
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

/* Makes pcap_open_live fail with this text in its error buffer. */
PCAP_STAND_IN_API void StandInFailOpen(const char* errorText);
/* Leaves this warning text in the error buffer of a successful open. */
PCAP_STAND_IN_API void StandInWarnOnOpen(const char* warningText);
PCAP_STAND_IN_API void StandInSetLinkType(int linkType);

/* Queues what the next pcap_next_ex answers. Once the queue is empty it answers -2. */
PCAP_STAND_IN_API void StandInQueueFrame(const unsigned char* bytes, uint32_t capturedLength);
PCAP_STAND_IN_API void StandInQueueTimeout(void);
PCAP_STAND_IN_API void StandInQueueResult(int result);

/* Called at the start of every pcap_next_ex with its 1-based number, before it answers. */
typedef void (*StandInReadHook)(int readNumber, void* context);
PCAP_STAND_IN_API void StandInOnRead(StandInReadHook hook, void* context);
/* Called by a successful pcap_open_live before it returns. */
typedef void (*StandInOpenHook)(void* context);
PCAP_STAND_IN_API void StandInOnOpen(StandInOpenHook hook, void* context);

PCAP_STAND_IN_API int StandInOpenCount(void);
PCAP_STAND_IN_API int StandInCloseCount(void);
PCAP_STAND_IN_API int StandInReadCount(void);
/* The arguments of the last pcap_open_live. */
PCAP_STAND_IN_API const char* StandInOpenedDevice(void);
PCAP_STAND_IN_API int StandInOpenedSnapshotLength(void);
PCAP_STAND_IN_API int StandInOpenedPromiscuous(void);
PCAP_STAND_IN_API int StandInOpenedTimeoutMs(void);

#ifdef __cplusplus
}
#endif

#endif /* PCAP_STAND_IN_H */
