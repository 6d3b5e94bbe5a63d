// `--filter EXPR` of `export` and `capture --show`: a libpcap filter expression, as tcpdump takes
// it, applied to stored frames where they are read. The packet files always keep every frame; only
// what is exported or shown is chosen. Every libpcap call the filter makes is in frame_filter.cpp.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

struct bpf_program;  // libpcap's compiled filter

namespace mirrowen::tool {

class FrameFilter {
  public:
    // Compiles `expression` for Ethernet frames of up to the capture's snapshot length. A bad
    // expression gives nothing, with libpcap's reason in `error`.
    static std::optional<FrameFilter> Compile(const std::string& expression, std::string& error);

    // Whether the stored frame matches. Safe to call from any one thread at a time per filter.
    bool Matches(std::span<const unsigned char> frame) const;

  private:
    struct ProgramDeleter {
        void operator()(bpf_program* program) const;
    };
    explicit FrameFilter(std::unique_ptr<bpf_program, ProgramDeleter> program);

    std::unique_ptr<bpf_program, ProgramDeleter> program_;
};

// Compiles the expression given with --filter into `filter`; an empty one leaves it empty, as it
// would match every frame. A bad one is reported on stderr with libpcap's message: false.
bool CompileFilterOption(const std::string& expression, std::optional<FrameFilter>& filter);

}  // namespace mirrowen::tool
