// The operations the library's steps need from the operating system and from the capture library.
// Each platform folder (posix/, win32/) implements all of them; the steps include only this header.
#pragma once

#include <cstddef>
#include <cstdint>

// SystemError: why a system call failed (errno, GetLastError()), kNoError when it did not.
#include "platform/system_error.h"
// kSeparator, kPathLimit and the platform's codes for failures that the steps find themselves, from
// the folder of the platform being built.
#include "platform_constants.h"

struct pcap;  // libpcap's capture handle, pcap_t

namespace mirrowen::platform {

// --- File system ---------------------------------------------------------------------------

// Whether the path names a folder, by the platform's own rule: on Windows a search that matches
// several entries (a wildcard) counts as one.
bool IsFolder(const char* path);

// Creates one directory with default permissions; missing parents are not created.
SystemError MakeFolder(const char* path);

// A file descriptor or a HANDLE; kNoFile is what both report for "no file".
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// When the capture library took a frame: seconds since 1970-01-01 UTC and the fraction of a second.
struct CaptureTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

// Creates or truncates a file for writing only, never following a link at its name; `file` is
// kNoFile unless it succeeded.
SystemError CreatePacketFile(const char* path, FileHandle& file);
// Writes all of the bytes; a write that takes fewer is a failure.
SystemError WritePacketFile(FileHandle file, const void* bytes, std::size_t size);
// Sets the file's modification time (its access time is left alone).
SystemError SetPacketFileTime(FileHandle file, CaptureTime time);
// Releases the handle whatever it reports.
SystemError ClosePacketFile(FileHandle file);
SystemError RemovePacketFile(const char* path);

// Claims the folder for one capture, so that no other call stores packet files there meanwhile:
// refused, with the system's code for a file in use (EBUSY; ERROR_SHARING_VIOLATION on Windows),
// while another claim on it is held, by this process or another. The claim is released by
// ReleaseFolder, and by the system when its process ends, however it ends. A folder that cannot be
// claimed at all (one the caller may not open so, or on a file system without such locks) is not
// refused: `claim` is then kNoFile, as it is after a refusal.
SystemError ClaimFolder(const char* path, FileHandle& claim);
// Releases a claim; kNoFile holds none.
void ReleaseFolder(FileHandle claim);

// Leaves `error` where a host looks for the system's reason once the call has returned: errno, or
// the calling thread's last-error value on Windows.
void LeaveSystemError(SystemError error);

// --- User notification and module identity -------------------------------------------------

// Tells the user about a failed adapter open, captioned with the application name. Returns once
// the user has seen it (or at once where nobody is asked to acknowledge it).
void ShowWarning(const char* caption, const char* text);

// The path of the library file as it was loaded, NUL-terminated; empty if it cannot be found.
void ModulePath(char* buffer, std::size_t size);

// --- The process's environment and the machine -----------------------------------------------

// Copies the value of an environment variable, NUL-terminated; false when it is not set or does not
// fit.
bool EnvironmentValue(const char* name, char* value, std::size_t size);

// The machine's physical memory in bytes; 0 if it cannot be told.
std::uint64_t PhysicalMemoryBytes();

// The link speed in bits/s that the system reports for the capture device (Linux: the kernel's
// speed of the interface; Windows: the adapter's receive link speed); 0 where it reports none
// (loopback, most wireless adapters, tunnels, a link that is down) or knows no such device.
std::uint64_t LinkBitsPerSecond(const char* device);

// --- Capture library -----------------------------------------------------------------------

using CaptureHandle = pcap*;
inline constexpr std::size_t kCaptureErrorSize = 256;  // PCAP_ERRBUF_SIZE

struct Frame {
    std::uint32_t capturedLength = 0;
    const unsigned char* bytes = nullptr;
    CaptureTime time;
};

// The capture of pcap_open_live, with the kernel's or driver's capture buffer asked for at
// `bufferBytes` (0: the capture library's default). Where the kernel or the driver refuses that
// size, the capture gets what the platform's capture library can have instead, at worst its
// default. On failure returns nullptr with the reason in errorText, worded as pcap_open_live
// words it.
CaptureHandle OpenCapture(const char* device, int snapshotLength, bool promiscuous,
                          int readTimeoutMs, std::size_t bufferBytes,
                          char (&errorText)[kCaptureErrorSize]);
// Whether the capture delivers Ethernet frames.
bool IsEthernet(CaptureHandle capture);

enum class ReadResult {
    kFrame,    // `frame` holds the next frame, valid until the next read or the close
    kTimeout,  // the read timeout passed without a frame
    kEnd,      // the capture library delivers no more frames (the end of a file, a break)
    kError,    // reading failed
};
// Reads the next frame; returns within about the open's read timeout with or without traffic
// (whatever the platform needs for that is done by OpenCapture).
ReadResult ReadFrame(CaptureHandle capture, Frame& frame);
// Releases the capture; once per open.
void CloseCapture(CaptureHandle capture);

}  // namespace mirrowen::platform
