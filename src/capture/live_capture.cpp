#include "capture/live_capture.h"

#include <cstring>

#include "capture/capture_buffer.h"
#include "mirrowen.h"

namespace mirrowen::capture {

namespace {

constexpr std::size_t kSourcePrefixLength = MIRROWEN_ADAPTER_PREFIX_LENGTH;
constexpr int kSnapshotLength = MIRROWEN_SNAPSHOT_LENGTH;
constexpr int kReadTimeoutMs = 200;
constexpr std::uint32_t kLargestSkippedFrame = MIRROWEN_LARGEST_SKIPPED_FRAME;

}  // namespace

const char* DeviceName(const char* adapterName) {
    if (strnlen(adapterName, kSourcePrefixLength) < kSourcePrefixLength) return "";
    return adapterName + kSourcePrefixLength;
}

LiveCapture::~LiveCapture() {
    if (handle_ != nullptr) platform::CloseCapture(handle_);
}

bool LiveCapture::Open(const char* adapterName, char (&errorText)[platform::kCaptureErrorSize]) {
    const char* device = DeviceName(adapterName);
    handle_ = platform::OpenCapture(device, kSnapshotLength, true, kReadTimeoutMs,
                                    CaptureBufferBytes(device), errorText);
    return handle_ != nullptr;
}

bool LiveCapture::CarriesEthernet() const { return platform::IsEthernet(handle_); }

CaptureEnd LiveCapture::StoreUntilStopped(HostInteger stopFlag,
                                          packetfile::PacketFileWriter& packetFiles) {
    while (stopFlag.Load() == 0) {
        platform::Frame frame;
        switch (platform::ReadFrame(handle_, frame)) {
            case platform::ReadResult::kFrame:
                if (frame.capturedLength > kLargestSkippedFrame) {
                    const platform::SystemError error =
                        packetFiles.Store(frame.bytes, frame.capturedLength, frame.time);
                    if (error != platform::kNoError) return {ResultFileFailed, error};
                }
                break;
            case platform::ReadResult::kTimeout:
                break;
            case platform::ReadResult::kEnd:
                return {ResultFinished};
            case platform::ReadResult::kError:
                return {ResultCaptureError};
        }
    }
    return {ResultFinished};
}

}  // namespace mirrowen::capture
