#include "mirrowen.h"

#include "capture/live_capture.h"
#include "common/application_name.h"
#include "common/host_integer.h"
#include "folder/output_folder.h"
#include "packetfile/packet_files.h"
#include "platform/platform.h"

namespace {

// At least two bytes before the NUL; never reads past the NUL of a shorter string.
bool HasAtLeastTwoBytes(const char* text) { return text[0] != '\0' && text[1] != '\0'; }

bool ArgumentsAreValid(const char* adapterName, const char* folderPath, const int32_t* stopFlag,
                       const int32_t* fileCount) {
    return adapterName != nullptr && HasAtLeastTwoBytes(adapterName) && folderPath != nullptr &&
           HasAtLeastTwoBytes(folderPath) && stopFlag != nullptr && fileCount != nullptr;
}

// Opens the adapter and stores its frames into the folder. The capture is closed and any failed
// packet file removed by the time this returns.
mirrowen::capture::CaptureEnd CaptureIntoFolder(const char* adapterName, const char* folderPath,
                                                mirrowen::HostInteger stop,
                                                mirrowen::HostInteger count) {
    using namespace mirrowen;
    capture::LiveCapture capture;
    char errorText[platform::kCaptureErrorSize] = "";
    if (!capture.Open(adapterName, errorText)) {
        platform::ShowWarning(ApplicationName(), errorText);
        return {ResultAdapterFailed};
    }
    if (!capture.CarriesEthernet()) return {ResultNotEthernet};

    packetfile::PacketFileWriter packetFiles(folderPath, count);
    return capture.StoreUntilStopped(stop, packetFiles);
}

// One capture per folder: two calls storing into one folder would overwrite each other's files.
// The claim is held until the capture's clean-up is done, and a refused call leaves the host's
// integers alone.
mirrowen::capture::CaptureEnd CaptureIntoClaimedFolder(const char* adapterName,
                                                       const char* folderPath, int32_t* stopFlag,
                                                       int32_t* fileCount) {
    using namespace mirrowen;
    const folder::FolderClaim claim(folderPath);
    if (claim.refusal() != platform::kNoError) return {ResultRefused, claim.refusal()};

    // The only reset: a stop stored before this moment does not end the capture.
    const HostInteger stop(stopFlag);
    const HostInteger count(fileCount);
    stop.Store(0);
    count.Store(0);
    return CaptureIntoFolder(adapterName, folderPath, stop, count);
}

}  // namespace

// The call's steps, in their order; each early return releases what the steps before it took.
extern "C" int32_t MIRROWEN_CALL Mirrowen(const char* adapterName, void* /*reserved*/,
                                          char* folderPath, int32_t* stopFlag, int32_t* fileCount) {
    using namespace mirrowen;
    if (!ArgumentsAreValid(adapterName, folderPath, stopFlag, fileCount)) return ResultRefused;
    if (!folder::PrepareOutputFolder(folderPath)) return ResultRefused;

    const capture::CaptureEnd end =
        CaptureIntoClaimedFolder(adapterName, folderPath, stopFlag, fileCount);
    // Last of all, once the clean-up's own calls are done, the folder's release included: the
    // host finds the reason on return.
    if (end.systemError != platform::kNoError) platform::LeaveSystemError(end.systemError);
    return end.result;
}
