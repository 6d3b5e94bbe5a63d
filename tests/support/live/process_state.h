#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace mirrowen::testing {

// Process-wide state that a test changes is put back by these destructors, also when the test
// fails half way, so that no later test runs under a limit it did not ask for.

// Lowers the soft limit of one resource for as long as it lives.
class ScopedResourceLimit {
  public:
    ScopedResourceLimit(int resource, rlim_t softLimit);
    ~ScopedResourceLimit();
    ScopedResourceLimit(const ScopedResourceLimit&) = delete;
    ScopedResourceLimit& operator=(const ScopedResourceLimit&) = delete;

  private:
    int resource_;
    rlimit saved_{};
};

// Gives one signal another handler (or SIG_IGN) for as long as it lives; no SA_RESTART, so a
// signal interrupts the system call it arrives in.
class ScopedSignalHandler {
  public:
    ScopedSignalHandler(int signalNumber, void (*handler)(int));
    ~ScopedSignalHandler();
    ScopedSignalHandler(const ScopedSignalHandler&) = delete;
    ScopedSignalHandler& operator=(const ScopedSignalHandler&) = delete;

  private:
    int signalNumber_;
    struct sigaction saved_ {};
};

// Takes every free descriptor below the descriptor limit (lowered to a small number first, so that
// the fill is quick) and gives them all back when it is released or destroyed.
class DescriptorExhaustion {
  public:
    DescriptorExhaustion();
    ~DescriptorExhaustion();
    DescriptorExhaustion(const DescriptorExhaustion&) = delete;
    DescriptorExhaustion& operator=(const DescriptorExhaustion&) = delete;

    // Takes whatever descriptors are free now.
    void TakeAll();
    void Release();

  private:
    rlim_t limit_;
    ScopedResourceLimit lowered_;
    std::vector<int> taken_;
};

// Makes a folder the process's working directory for as long as it lives.
class ScopedWorkingDirectory {
  public:
    explicit ScopedWorkingDirectory(const std::filesystem::path& folder);
    ~ScopedWorkingDirectory();
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

  private:
    std::filesystem::path saved_;
};

// Takes from the calling thread, for as long as it lives, root's right to pass over the permissions
// of files (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER), so that a folder's permissions hold
// for it as for any user; threads started meanwhile keep that. Other threads and the rights that
// are not about files (capturing) are left alone.
class ScopedWithoutFileRights {
  public:
    ScopedWithoutFileRights();
    ~ScopedWithoutFileRights();
    ScopedWithoutFileRights(const ScopedWithoutFileRights&) = delete;
    ScopedWithoutFileRights& operator=(const ScopedWithoutFileRights&) = delete;

  private:
    std::uint32_t savedEffective_[2] = {};
};

// A tmpfs of the test's own at `where` (created if missing), unmounted again whatever happens;
// `inodes` limits its files where it is not 0.
class TemporaryFileSystem {
  public:
    TemporaryFileSystem(const std::filesystem::path& where, std::size_t sizeBytes,
                        std::size_t inodes = 0);
    ~TemporaryFileSystem();
    TemporaryFileSystem(const TemporaryFileSystem&) = delete;
    TemporaryFileSystem& operator=(const TemporaryFileSystem&) = delete;

    // Remounts it read-only; root's writes fail then, whatever the permission bits say.
    void MakeReadOnly() const;

  private:
    std::filesystem::path where_;
};

// A field of a file of /proc such as /proc/meminfo or /proc/self/status, in kB; throws when it is
// missing.
long ProcFieldKb(const std::filesystem::path& file, const std::string& field);

}  // namespace mirrowen::testing
