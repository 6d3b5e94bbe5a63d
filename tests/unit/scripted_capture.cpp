#include "scripted_capture.h"

namespace mirrowen::testing {

std::int32_t ScriptedCapture::Capture(const std::string& adapter) {
    std::string folder = folder_.string();
    return CaptureInto(folder, adapter);
}

std::int32_t ScriptedCapture::CaptureInto(std::string& folder, const std::string& adapter) {
    const std::int32_t result =
        Mirrowen(adapter.c_str(), nullptr, folder.data(), &stopFlag_, &fileCount_);
    systemError_ = LastSystemError();
    return result;
}

void ScriptedCapture::QueueFrame(const Bytes& frame) {
    StandInQueueFrame(frame.data(), static_cast<std::uint32_t>(frame.size()));
}

std::filesystem::path ScriptedCapture::PacketFile(int number) const {
    return testing::PacketFile(folder_, number);
}

}  // namespace mirrowen::testing
