// Local time on POSIX: localtime_r, which any thread may call.
#include <time.h>

#include "platform/tool_platform.h"

namespace mirrowen::tool::platform {

std::tm LocalTime(std::time_t moment) {
    std::tm local{};
    localtime_r(&moment, &local);
    return local;
}

}  // namespace mirrowen::tool::platform
