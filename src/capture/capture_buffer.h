#pragma once

#include <cstddef>

namespace mirrowen::capture {

// How large a capture ring to ask for on `device`, in bytes, by the rule of mirrowen.h, for this
// process's environment, the adapter's link speed and this machine's memory; 0 leaves the capture
// library's own default.
std::size_t CaptureBufferBytes(const char* device);

}  // namespace mirrowen::capture
