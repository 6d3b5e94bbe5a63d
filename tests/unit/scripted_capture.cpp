#include "scripted_capture.h"

namespace mirrowen::testing {

std::int32_t ScriptedCapture::Capture(const std::string& adapter) {
    std::string folder = folder_.string();
    return CaptureInto(folder, adapter);
}

std::int32_t ScriptedCapture::CaptureInto(std::string& folder, const std::string& adapter) {
    return Mirrowen(adapter.c_str(), nullptr, folder.data(), &stopFlag_, &fileCount_);
}

void ScriptedCapture::QueueFrame(const std::vector<unsigned char>& frame) {
    StandInQueueFrame(frame.data(), static_cast<std::uint32_t>(frame.size()));
}

std::vector<unsigned char> ScriptedCapture::Frame(std::size_t size, unsigned seed) {
    std::vector<unsigned char> frame(size);
    for (std::size_t i = 0; i < size; ++i) frame[i] = static_cast<unsigned char>(i * 31 + seed);
    return frame;
}

std::filesystem::path ScriptedCapture::PacketFile(int number) const {
    return folder_ / (std::to_string(number) + ".hda");
}

}  // namespace mirrowen::testing
