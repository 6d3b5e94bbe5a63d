#pragma once

namespace mirrowen::folder {

// Cuts one trailing separator off `path`, in place; only the last byte is looked at.
void TrimTrailingSeparator(char* path);

// Trims `folderPath` in the caller's buffer, then makes sure the folder it names exists, creating
// it (not its parents) if needed. False when it neither exists nor could be created, or when the
// trimmed path is longer than the platform allows.
bool PrepareOutputFolder(char* folderPath);

}  // namespace mirrowen::folder
