#include "frame_filter.h"

#include <iostream>

#include "capture_library_advice.h"
#include "library_names.h"

namespace mirrowen::tool {

FrameFilter::FrameFilter(platform::Filter program) : program_(std::move(program)) {}

std::optional<FrameFilter> FrameFilter::Compile(const std::string& expression, std::string& error) {
    platform::Filter program =
        platform::CompileFilter(expression, static_cast<int>(kSnapshotLength), error);
    if (!program) return std::nullopt;
    return FrameFilter(std::move(program));
}

bool FrameFilter::Matches(std::span<const unsigned char> frame) const {
    return platform::FilterMatches(*program_, frame);
}

bool CompileFilterOption(const std::string& expression, std::optional<FrameFilter>& filter) {
    filter.reset();
    if (expression.empty()) return true;
    std::string error;
    filter = FrameFilter::Compile(expression, error);
    if (!filter) {
        std::cerr << "mirrowen: cannot use the filter '" << expression << "': " << error
                  << CaptureLibraryAdvice() << '\n';
        return false;
    }
    return true;
}

}  // namespace mirrowen::tool
