// The adapters libpcap can open, in the form the capture takes them, and what libpcap tells of one
// that cannot be opened.
#pragma once

#include <string>

namespace mirrowen::tool {

// Prints one adapter a line: its source name, whether it carries Ethernet (as far as opening it
// tells), its flags and its description. Returns the exit status.
int ListAdapters();

// What to do about a device that the capture could not open, from libpcap's own reason when it
// tries again: a device that does not exist, one that is down, or no right to capture.
std::string AdapterOpenAdvice(const std::string& device);

}  // namespace mirrowen::tool
