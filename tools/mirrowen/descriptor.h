// A file descriptor owned for as long as it lives.
#pragma once

#include <unistd.h>

namespace mirrowen::tool {

class Descriptor {
  public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0) close(descriptor_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    // Negative when the call that gave it failed.
    int get() const { return descriptor_; }

  private:
    int descriptor_;
};

}  // namespace mirrowen::tool
