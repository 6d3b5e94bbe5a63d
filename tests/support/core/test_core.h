// The portable core of the test support, shared by the unit tests on both platforms, the Windows
// tests and the benchmarks: scratch folders and files, packet files, standard error and the
// process's open descriptors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mirrowen.h"

namespace mirrowen::testing {

using Bytes = std::vector<unsigned char>;

// "rpcap://<device>", the adapter name a host hands the call.
inline std::string AdapterName(const std::string& device) {
    return MIRROWEN_ADAPTER_PREFIX + device;
}
// "<number>.hda".
inline std::string PacketFileName(std::int64_t number) {
    return std::to_string(number) + MIRROWEN_PACKET_FILE_EXTENSION;
}

// A folder of the test's own under the system's temporary folder, removed with its contents.
class TemporaryFolder {
  public:
    explicit TemporaryFolder(
        const std::filesystem::path& parent = std::filesystem::temp_directory_path());
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

Bytes ReadWholeFile(const std::filesystem::path& path);
void WriteWholeFile(const std::filesystem::path& path, const Bytes& bytes);
// `size` bytes whose pattern `seed` picks, so that frames of one size still differ.
Bytes PatternBytes(std::size_t size, unsigned seed = 0);

std::filesystem::path PacketFile(const std::filesystem::path& folder, std::int64_t number);
// The numbers n of the regular files named "<n>.hda" in `folder`, in ascending order.
std::vector<int> PacketFileNumbers(const std::filesystem::path& folder);
// The frames stored as 1.hda, 2.hda, ... in `folder`, up to the first missing number, leading
// probe frames left out.
std::vector<Bytes> StoredTestFrames(const std::filesystem::path& folder);

// An existing folder under `base` whose path is exactly `length` bytes long, made of folders of
// at most 100 bytes each.
std::filesystem::path FolderOfLength(const std::filesystem::path& base, std::size_t length);

// Runs `call` with the process's standard error sent to a file; returns what was written there.
// POSIX only: on Windows the library tells the user in a message box.
std::string StandardErrorOf(const std::function<void()>& call);
// What the user was told while `call` ran, as "<caption>: <text>\n": the line on standard error,
// or the message box (read and dismissed) on Windows. Each platform's support defines it.
std::string WarningShownBy(const std::function<void()>& call);

// The system's reason for this thread's last failed call: errno, or GetLastError() on Windows.
std::uint32_t LastSystemError();

// How many descriptors (handles on Windows) this process has open.
std::size_t OpenDescriptorCount();

// The machine's whole memory in bytes, as the system tells it to users: MemTotal in /proc/meminfo
// on Linux, the total of the performance information on Windows.
std::uint64_t InstalledMemoryBytes();

// A test that must give back every descriptor it takes: the count after the test body must be the
// count before it.
class KeepsDescriptors : public ::testing::Test {
  protected:
    void SetUp() override { descriptorsBefore_ = OpenDescriptorCount(); }
    void TearDown() override { EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore_); }

  private:
    std::size_t descriptorsBefore_ = 0;
};

}  // namespace mirrowen::testing
