#include "packetfile/packet_files.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <utility>

#include "mirrowen.h"

namespace mirrowen::packetfile {

namespace {

constexpr char kExtension[] = MIRROWEN_PACKET_FILE_EXTENSION;

// Owns an open packet file; closes it on any path that did not close it explicitly.
class OpenFile {
  public:
    explicit OpenFile(platform::FileHandle file) : file_(file) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (file_ != platform::kNoFile) platform::ClosePacketFile(file_);
    }

    platform::FileHandle get() const { return file_; }
    platform::SystemError Close() {
        return platform::ClosePacketFile(std::exchange(file_, platform::kNoFile));
    }

  private:
    platform::FileHandle file_;
};

}  // namespace

bool FormatPacketFileName(const char* folder, std::int32_t number, char* name, std::size_t size) {
    const std::size_t folderLength = std::strlen(folder);
    char digits[std::numeric_limits<std::int32_t>::digits10 + 2];
    const auto [digitsEnd, error] = std::to_chars(digits, digits + sizeof digits, number);
    const std::size_t digitsLength = static_cast<std::size_t>(digitsEnd - digits);
    const std::size_t nameLength = folderLength + 1 + digitsLength + (sizeof kExtension - 1);
    if (error != std::errc{} || nameLength >= size) return false;

    char* cursor = name;
    cursor = std::copy_n(folder, folderLength, cursor);
    *cursor++ = platform::kSeparator;
    cursor = std::copy_n(digits, digitsLength, cursor);
    std::memcpy(cursor, kExtension, sizeof kExtension);
    return true;
}

platform::SystemError PacketFileWriter::Store(const unsigned char* bytes, std::uint32_t length,
                                              platform::CaptureTime time) {
    using platform::kNoError;
    if (fileNumber_ == std::numeric_limits<std::int32_t>::max()) return platform::kNumbersUsedUp;
    ++fileNumber_;
    if (!FormatPacketFileName(folderPath_, fileNumber_, fileName_, sizeof fileName_)) {
        return platform::kNameTooLong;
    }

    platform::FileHandle created = platform::kNoFile;
    if (const platform::SystemError error = platform::CreatePacketFile(fileName_, created);
        error != kNoError) {
        return error;
    }
    OpenFile file(created);
    const platform::SystemError writeError = platform::WritePacketFile(file.get(), bytes, length);
    // After the write, which would set the time again. A time the file system refuses is no
    // failure: the file keeps the time it was written.
    if (writeError == kNoError) platform::SetPacketFileTime(file.get(), time);
    const platform::SystemError closeError = file.Close();
    if (writeError != kNoError || closeError != kNoError) {
        // A partial file would read as a shorter frame; better no file than a wrong one. The
        // first failure is the cause, whatever the removal reports.
        platform::RemovePacketFile(fileName_);
        return writeError != kNoError ? writeError : closeError;
    }
    fileCount_.Store(fileNumber_);
    return kNoError;
}

}  // namespace mirrowen::packetfile
