#pragma once

#include <atomic>
#include <cstdint>

namespace mirrowen {

// One of the two 32-bit integers that the host shares with a running call: the stop flag and the
// file count. Every access is one whole atomic load or store, so the host's thread never sees a
// torn value and the call never keeps a stale copy of the flag in a register.
class HostInteger {
  public:
    explicit HostInteger(std::int32_t* value) : value_(value) {}

    std::int32_t Load() const {
        return std::atomic_ref<std::int32_t>(*value_).load(std::memory_order_acquire);
    }
    // Release order: whatever was done before the store (a packet file written and closed) is
    // done for any thread that loads the new value.
    void Store(std::int32_t value) const {
        std::atomic_ref<std::int32_t>(*value_).store(value, std::memory_order_release);
    }

  private:
    std::int32_t* value_;
};

}  // namespace mirrowen
