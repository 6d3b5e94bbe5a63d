// The adapters the capture library can open, in the form the capture takes them.
#pragma once

namespace mirrowen::tool {

// Prints one adapter a line: its source name, whether it carries Ethernet (as far as opening it
// tells), its flags and its description. Returns the exit status.
int ListAdapters();

}  // namespace mirrowen::tool
