#include "capture/live_capture.h"

#include <cstring>

#include "capture/capture_buffer.h"
#include "entry/application_name.h"
#include "mirrowen.h"
#include "packetfile/packet_files.h"
#include "platform/platform.h"

namespace mirrowen::capture {

namespace {

constexpr std::size_t kSourcePrefixLength = 8;  // "rpcap://"
constexpr int kSnapshotLength = 65536;
constexpr int kReadTimeoutMs = 200;
constexpr int kLinkTypeEthernet = 1;  // DLT_EN10MB
constexpr std::uint32_t kLargestSkippedFrame = 60;
constexpr int kReadError = -1;  // PCAP_ERROR

// Owns the capture handle from a successful open to its one close.
class Capture {
  public:
    explicit Capture(platform::CaptureHandle handle) : handle_(handle) {}
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    ~Capture() {
        if (handle_ != nullptr) platform::CloseCapture(handle_);
    }

    platform::CaptureHandle get() const { return handle_; }

  private:
    platform::CaptureHandle handle_;
};

}  // namespace

const char* DeviceName(const char* adapterName) {
    if (strnlen(adapterName, kSourcePrefixLength) < kSourcePrefixLength) return "";
    return adapterName + kSourcePrefixLength;
}

std::int32_t RunLiveCapture(const char* adapterName, const char* folderPath, HostInteger stopFlag,
                            HostInteger fileCount) {
    char errorText[platform::kCaptureErrorSize] = "";
    const Capture capture(platform::OpenCapture(DeviceName(adapterName), kSnapshotLength, true,
                                                kReadTimeoutMs, CaptureBufferBytes(), errorText));
    if (capture.get() == nullptr) {
        platform::ShowWarning(ApplicationName(), errorText);
        return ResultAdapterFailed;
    }
    if (platform::LinkType(capture.get()) != kLinkTypeEthernet) return ResultNotEthernet;
    if (stopFlag.Load() != 0) return ResultFinished;

    platform::PrepareReads(capture.get());
    packetfile::PacketFileWriter packetFiles(folderPath, fileCount);
    int lastRead = 0;
    do {
        platform::Frame frame;
        lastRead = platform::ReadFrame(capture.get(), kReadTimeoutMs, frame);
        if (lastRead < 0) break;
        if (lastRead > 0 && frame.capturedLength > kLargestSkippedFrame &&
            !packetFiles.Store(frame.bytes, frame.capturedLength, frame.time)) {
            return ResultFileFailed;
        }
    } while (stopFlag.Load() == 0);
    return lastRead == kReadError ? ResultCaptureError : ResultFinished;
}

}  // namespace mirrowen::capture
