// The tool's process on the platform at hand: its set-up, the system's reasons for failed calls,
// its environment, its threads' priority and its standard streams. Each platform folder (posix/,
// win32/) implements it in its process.cpp.
#pragma once

#include <cstdio>
#include <string>

namespace mirrowen::tool::platform {

// Settles what the whole run relies on before any command starts.
void PrepareProcess();

// The system's reason for the calling thread's last failed call (errno, or GetLastError() on
// Windows), and its text.
int LastSystemError();
std::string SystemErrorText(int error);

// Sets a variable of the process's environment, where the capture module reads it at its call.
// Only while the tool runs no other thread: POSIX's setenv races with a getenv on another thread.
void SetEnvironmentValue(const char* name, const std::string& value);

// Lowers the calling thread's priority as far as it goes: the capture's threads run first.
void LowerThreadPriority();

// Whether standard error is a terminal on which "\r\033[K" redraws the current line.
bool ErrorRedrawsLines();
// Whether standard output is a terminal.
bool OutputIsTerminal();
// Writes all of `text` to standard output, past the stream's buffer; false once it cannot (a
// closed pipe).
bool WriteOutput(const std::string& text);
// Standard output, set to take binary data unchanged.
std::FILE* BinaryOutput();

}  // namespace mirrowen::tool::platform
