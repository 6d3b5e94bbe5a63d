#pragma once

#include "platform/platform.h"

namespace mirrowen::folder {

// Cuts one trailing separator off `path`, in place; only the last byte is looked at.
void TrimTrailingSeparator(char* path);

// Trims `folderPath` in the caller's buffer, then makes sure the folder it names exists, creating
// it (not its parents) if needed. False when it neither exists nor could be created, or when the
// trimmed path is longer than the platform allows.
bool PrepareOutputFolder(char* folderPath);

// The folder, claimed for one call from construction to destruction, so that no other call stores
// packet files into it meanwhile; refusal() is the system's reason when another call holds it.
class FolderClaim {
  public:
    explicit FolderClaim(const char* folderPath)
        : refusal_(platform::ClaimFolder(folderPath, claim_)) {}
    ~FolderClaim() { platform::ReleaseFolder(claim_); }
    FolderClaim(const FolderClaim&) = delete;
    FolderClaim& operator=(const FolderClaim&) = delete;

    platform::SystemError refusal() const { return refusal_; }

  private:
    platform::FileHandle claim_ = platform::kNoFile;
    platform::SystemError refusal_;
};

}  // namespace mirrowen::folder
