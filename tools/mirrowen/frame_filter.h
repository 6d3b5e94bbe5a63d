// `--filter EXPR` of `export` and `capture --show`: a libpcap filter expression, as tcpdump takes
// it, applied to stored frames where they are read. The packet files always keep every frame; only
// what is exported or shown is chosen. The capture library compiles and runs the filter (the
// platform's CompileFilter and FilterMatches).
#pragma once

#include <optional>
#include <span>
#include <string>

#include "platform/capture_library.h"

namespace mirrowen::tool {

class FrameFilter {
  public:
    // Compiles `expression` for Ethernet frames of up to the capture's snapshot length. A bad
    // expression gives nothing, with the capture library's reason in `error`.
    static std::optional<FrameFilter> Compile(const std::string& expression, std::string& error);

    // Whether the stored frame matches. Safe to call from any one thread at a time per filter.
    bool Matches(std::span<const unsigned char> frame) const;

  private:
    explicit FrameFilter(platform::Filter program);

    platform::Filter program_;
};

// Compiles the expression given with --filter into `filter`; an empty one leaves it empty, as it
// would match every frame. A bad one is reported on stderr with the capture library's message:
// false.
bool CompileFilterOption(const std::string& expression, std::optional<FrameFilter>& filter);

}  // namespace mirrowen::tool
