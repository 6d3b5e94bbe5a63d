// Why a system call failed, in the platform's own numbers, for the steps to pass on to the host.
#pragma once

#include <cstdint>

namespace mirrowen::platform {

// errno on POSIX, GetLastError() on Windows; kNoError (0 on both) when the call did not fail. A
// type of its own, so that it is never read as a yes-or-no answer.
enum class SystemError : std::uint32_t {};
inline constexpr SystemError kNoError{};

}  // namespace mirrowen::platform
