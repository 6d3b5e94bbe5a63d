// The types and constants of wpcap.dll's interface (WinPcap, Npcap) that Mirrowen.dll and
// mirrowen.exe both use, laid out as wpcap.dll lays them out for 32- and 64-bit processes alike.
// Each declares the functions it binds itself.
#pragma once

#include <stdint.h>

#define PCAP_ERRBUF_SIZE 256
#define DLT_EN10MB 1

typedef struct pcap pcap_t;
typedef unsigned char u_char;
typedef uint32_t bpf_u_int32;

// Windows' own struct timeval: two longs, which are 32-bit on 64-bit Windows too (LLP64).
struct pcap_timeval {
    long tv_sec;
    long tv_usec;
};

struct pcap_pkthdr {
    struct pcap_timeval ts;
    bpf_u_int32 caplen;
    bpf_u_int32 len;
};
