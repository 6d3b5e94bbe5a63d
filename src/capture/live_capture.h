#pragma once

#include <cstdint>

#include "common/host_integer.h"
#include "packetfile/packet_files.h"
#include "platform/platform.h"

namespace mirrowen::capture {

// The device name is the adapter name without its first 8 bytes, the length of "rpcap://" (not
// compared); a name of 8 bytes or fewer gives the empty device name.
const char* DeviceName(const char* adapterName);

// How a call ended: its result code, and the system's reason for ResultFileFailed and for a
// refusal of the folder that another call holds.
struct CaptureEnd {
    std::int32_t result = 0;
    platform::SystemError systemError = platform::kNoError;
};

// One live capture of an adapter, from a successful open to its one close.
class LiveCapture {
  public:
    LiveCapture() = default;
    LiveCapture(const LiveCapture&) = delete;
    LiveCapture& operator=(const LiveCapture&) = delete;
    ~LiveCapture();

    // Opens the adapter's device with the library's fixed parameters (the whole frame,
    // promiscuous, a 200 ms read timeout) and its capture buffer. False, with the capture
    // library's reason in `errorText`, when it cannot be opened.
    bool Open(const char* adapterName, char (&errorText)[platform::kCaptureErrorSize]);
    bool CarriesEthernet() const;
    // Reads frames and stores every one of more than 60 captured bytes through `packetFiles`
    // until the stop flag is set (looked at before the first read and after each) or the capture
    // library stops delivering. Ends with ResultFinished, ResultCaptureError or ResultFileFailed,
    // the last with the packet file's failure.
    CaptureEnd StoreUntilStopped(HostInteger stopFlag, packetfile::PacketFileWriter& packetFiles);

  private:
    platform::CaptureHandle handle_ = nullptr;
};

}  // namespace mirrowen::capture
