// Local time on Windows: localtime_s, which any thread may call.
#include <time.h>

#include "platform/tool_platform.h"

namespace mirrowen::tool::platform {

std::tm LocalTime(std::time_t moment) {
    std::tm local{};
    localtime_s(&local, &moment);
    return local;
}

}  // namespace mirrowen::tool::platform
