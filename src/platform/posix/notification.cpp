#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace mirrowen::platform {

void ShowWarning(const char* caption, const char* text) {
    // One line, "<caption>: <text>", in a single write so that it is never interleaved with the
    // host's own output.
    char line[kPathLimit + kCaptureErrorSize + 3];
    std::size_t length = 0;
    const auto append = [&](const char* part) {
        const std::size_t partLength = strnlen(part, sizeof line - 1 - length);
        std::memcpy(line + length, part, partLength);
        length += partLength;
    };
    append(caption);
    append(": ");
    append(text);
    line[length++] = '\n';
    while (write(STDERR_FILENO, line, length) < 0 && errno == EINTR) {
    }
}

}  // namespace mirrowen::platform
