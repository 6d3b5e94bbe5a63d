// Pieces of the tool's printed text. The text std::snprintf wrote, taken with the result it
// returned:
//     PrintedText(text, std::snprintf(text, sizeof text, "%u.%u.%u.%u", ...))
// The format stays at the call, where the compiler checks its arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace mirrowen::tool {

// The tool's buffers hold the longest text of their formats; a text snprintf could not write, or
// wrote cut short, is left out rather than shown as a wrong value.
inline std::string PrintedText(std::span<const char> buffer, int length) {
    if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) return {};
    return {buffer.data(), static_cast<std::size_t>(length)};
}

// "1 file", "2 files": a count with its noun.
inline std::string Plural(std::int64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace mirrowen::tool
