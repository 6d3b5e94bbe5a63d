#include "folder/output_folder.h"

#include <cstring>

#include "platform/platform.h"

namespace mirrowen::folder {

void TrimTrailingSeparator(char* path) {
    const std::size_t length = std::strlen(path);
    if (length != 0 && path[length - 1] == platform::kSeparator) path[length - 1] = '\0';
}

bool PrepareOutputFolder(char* folderPath) {
    TrimTrailingSeparator(folderPath);
    if (std::strlen(folderPath) >= platform::kPathLimit) return false;
    return platform::IsFolder(folderPath) || platform::MakeFolder(folderPath) == platform::kNoError;
}

}  // namespace mirrowen::folder
