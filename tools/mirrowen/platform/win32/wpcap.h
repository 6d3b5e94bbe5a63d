// The part of the capture library's interface that the mirrowen tool calls itself, as wpcap.dll
// (WinPcap, Npcap) exports it on 32-bit Windows (C functions with the cdecl convention) and on
// 64-bit Windows (x64 has one calling convention, which __cdecl then names): the adapter list, a
// trial open with its link type, and filters. The tool binds these by name at run time; the
// declarations give the types and are never called directly.
#pragma once

#include <stdint.h>

#include "wpcap_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define PCAP_NETMASK_UNKNOWN 0xffffffff

struct pcap_addr;  // an adapter's addresses, never read
typedef struct pcap_if {
    struct pcap_if* next;
    char* name;
    char* description;
    struct pcap_addr* addresses;
    bpf_u_int32 flags;
} pcap_if_t;
#define PCAP_IF_LOOPBACK 0x00000001
#define PCAP_IF_UP 0x00000002
#define PCAP_IF_RUNNING 0x00000004
#define PCAP_IF_WIRELESS 0x00000008

struct bpf_insn;  // one instruction of a compiled filter, never read
struct bpf_program {
    unsigned int bf_len;
    struct bpf_insn* bf_insns;
};

int __cdecl pcap_findalldevs(pcap_if_t** adapters, char* errorBuffer);
void __cdecl pcap_freealldevs(pcap_if_t* adapters);
pcap_t* __cdecl pcap_open_live(const char* device, int snapshotLength, int promiscuous,
                               int timeoutMs, char* errorBuffer);
int __cdecl pcap_datalink(pcap_t* capture);
const char* __cdecl pcap_datalink_val_to_description(int linkType);
void __cdecl pcap_close(pcap_t* capture);
pcap_t* __cdecl pcap_open_dead(int linkType, int snapshotLength);
int __cdecl pcap_compile(pcap_t* capture, struct bpf_program* program, const char* expression,
                         int optimize, bpf_u_int32 netmask);
char* __cdecl pcap_geterr(pcap_t* capture);
int __cdecl pcap_offline_filter(const struct bpf_program* program, const struct pcap_pkthdr* header,
                                const u_char* data);
void __cdecl pcap_freecode(struct bpf_program* program);

#ifdef __cplusplus
}
#endif
