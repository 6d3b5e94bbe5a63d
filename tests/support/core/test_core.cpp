#include "test_core.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string_view>

#include "frames.h"

namespace mirrowen::testing {

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder(const fs::path& parent) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = parent / ("mirrowen-test-" + std::to_string(random()));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("no temporary folder under " + parent.string());
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

Bytes ReadWholeFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteWholeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

Bytes PatternBytes(std::size_t size, unsigned seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 31 + seed);
    return bytes;
}

fs::path PacketFile(const fs::path& folder, std::int64_t number) {
    return folder / PacketFileName(number);
}

std::vector<int> PacketFileNumbers(const fs::path& folder) {
    std::vector<int> numbers;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        constexpr std::string_view kExtension = MIRROWEN_PACKET_FILE_EXTENSION;
        if (!is_regular_file(entry.symlink_status()) || !name.ends_with(kExtension)) continue;
        const std::string digits = name.substr(0, name.size() - kExtension.size());
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), ::isdigit)) continue;
        numbers.push_back(std::stoi(digits));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::vector<Bytes> StoredTestFrames(const fs::path& folder) {
    std::vector<Bytes> frames;
    for (int number = 1; fs::exists(PacketFile(folder, number)); ++number) {
        Bytes frame = ReadWholeFile(PacketFile(folder, number));
        if (frames.empty() && IsProbeFrame(frame)) continue;
        frames.push_back(std::move(frame));
    }
    return frames;
}

fs::path FolderOfLength(const fs::path& base, std::size_t length) {
    std::string path = base.string();
    while (path.size() < length) {
        const std::size_t room = length - path.size() - 1;  // after the next separator
        // Never leave a remainder too short for a component of its own.
        const std::size_t component = room > 150 ? 100 : room;
        path += static_cast<char>(fs::path::preferred_separator);
        path += std::string(component, 'd');
    }
    fs::create_directories(path);
    return path;
}

}  // namespace mirrowen::testing
