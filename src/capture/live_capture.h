#pragma once

#include <cstdint>

#include "entry/host_integer.h"

namespace mirrowen::capture {

// The device name is the adapter name without its first 8 bytes, the length of "rpcap://" (not
// compared); a name of 8 bytes or fewer gives the empty device name.
const char* DeviceName(const char* adapterName);

// Opens the adapter, checks that it carries Ethernet, and stores every frame of more than 60
// captured bytes as the next packet file in `folderPath` until the stop flag is set or the
// capture library stops delivering. Returns ResultFinished, ResultAdapterFailed,
// ResultNotEthernet, ResultFileFailed or ResultCaptureError.
std::int32_t RunLiveCapture(const char* adapterName, const char* folderPath, HostInteger stopFlag,
                            HostInteger fileCount);

}  // namespace mirrowen::capture
