#include "system_stand_in.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <map>
#include <string>
#include <string_view>

extern "C" {
int __real_open(const char* path, int flags, ...);
ssize_t __real_write(int descriptor, const void* bytes, size_t size);
int __real_close(int descriptor);
int __real_poll(pollfd* descriptors, nfds_t count, int timeoutMs);
}

namespace system_stand_in {

namespace {

struct Followed {
    Fault fault;
    int writes = 0;
};

struct Faults {
    std::map<std::string, Fault> armed;  // by the end of the path
    std::map<int, Followed> followed;    // by descriptor, from the open to the close
    int met = 0;
    int pollDescriptor = -1;
    std::vector<int> pollTimeouts;
};

Faults& TheFaults() {
    static Faults faults;
    return faults;
}

// The armed fault for this path, disarmed, if any.
bool TakeFault(std::string_view path, Fault& fault) {
    auto& armed = TheFaults().armed;
    for (auto entry = armed.begin(); entry != armed.end(); ++entry) {
        if (path.ends_with(entry->first)) {
            fault = entry->second;
            armed.erase(entry);
            return true;
        }
    }
    return false;
}

int Fail(int error) {
    ++TheFaults().met;
    errno = error;
    return -1;
}

}  // namespace

void Arm(const char* pathEnd, Fault fault) { TheFaults().armed[pathEnd] = fault; }

int FaultsMet() { return TheFaults().met; }

void RecordPollsOn(int descriptor) { TheFaults().pollDescriptor = descriptor; }

const std::vector<int>& PollTimeouts() { return TheFaults().pollTimeouts; }

void Reset() { TheFaults() = Faults{}; }

}  // namespace system_stand_in

using system_stand_in::Fault;
using system_stand_in::TheFaults;

extern "C" {

int __wrap_open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {  // as glibc's own open
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, unsigned));
        va_end(arguments);
    }
    Fault fault{};
    if (!system_stand_in::TakeFault(path, fault)) return __real_open(path, flags, mode);
    if (fault == Fault::CreateRefused) return system_stand_in::Fail(EMFILE);
    if (fault == Fault::CreateInterrupted) return system_stand_in::Fail(EINTR);
    const int descriptor = __real_open(path, flags, mode);
    if (descriptor >= 0) TheFaults().followed[descriptor] = {fault};
    return descriptor;
}

ssize_t __wrap_write(int descriptor, const void* bytes, size_t size) {
    const auto found = TheFaults().followed.find(descriptor);
    if (found == TheFaults().followed.end()) return __real_write(descriptor, bytes, size);
    const Fault fault = found->second.fault;
    const int write = ++found->second.writes;
    if (fault == Fault::WriteInterrupted && write == 1) return system_stand_in::Fail(EINTR);
    const bool cutting = fault == Fault::WriteCutShort || fault == Fault::WriteCutShortThenNoSpace;
    if (cutting && write == 1 && size > 1) {
        if (fault == Fault::WriteCutShort) ++TheFaults().met;
        return __real_write(descriptor, bytes, size / 2);
    }
    if (fault == Fault::WriteCutShortThenNoSpace && write == 2) {
        return system_stand_in::Fail(ENOSPC);
    }
    return __real_write(descriptor, bytes, size);
}

int __wrap_close(int descriptor) {
    const auto found = TheFaults().followed.find(descriptor);
    if (found == TheFaults().followed.end()) return __real_close(descriptor);
    const Fault fault = found->second.fault;
    TheFaults().followed.erase(found);
    // As on Linux, the descriptor is released whatever close reports.
    const int result = __real_close(descriptor);
    if (fault == Fault::CloseFails) return system_stand_in::Fail(EIO);
    return result;
}

int __wrap_poll(pollfd* descriptors, nfds_t count, int timeoutMs) {
    for (nfds_t index = 0; index < count; ++index) {
        if (descriptors[index].fd == TheFaults().pollDescriptor &&
            TheFaults().pollDescriptor >= 0) {
            TheFaults().pollTimeouts.push_back(timeoutMs);
            break;
        }
    }
    return __real_poll(descriptors, count, timeoutMs);
}

}  // extern "C"
