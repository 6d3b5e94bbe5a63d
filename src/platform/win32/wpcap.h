// The part of the capture library's interface that Mirrowen.dll calls, as wpcap.dll (WinPcap,
// Npcap) exports it on 32-bit Windows (C functions with the cdecl convention) and on 64-bit Windows
// (x64 has one calling convention, which __cdecl then names). It binds these by name at run time;
// the declarations give the types and are never called directly.
#pragma once

#include <stdint.h>

#include "wpcap_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define PCAP_ERROR -1
#define PCAP_ERROR_BREAK -2

pcap_t* __cdecl pcap_open_live(const char* device, int snapshotLength, int promiscuous,
                               int timeoutMs, char* errorBuffer);
int __cdecl pcap_datalink(pcap_t* capture);
int __cdecl pcap_next_ex(pcap_t* capture, struct pcap_pkthdr** header, const u_char** data);
void __cdecl pcap_close(pcap_t* capture);
// WinPcap's and Npcap's own: sets the size of the driver's capture buffer; 0 on success, -1 on
// failure.
int __cdecl pcap_setbuff(pcap_t* capture, int bytes);

#ifdef __cplusplus
}
#endif
