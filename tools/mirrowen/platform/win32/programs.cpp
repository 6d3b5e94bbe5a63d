// Other programs on Windows: found on PATH or in Wireshark's default folder, started with
// CreateProcess.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/programs.h"

namespace mirrowen::tool::platform {

namespace {

// One argument as the C run-time of the program started splits its command line again: quoted
// where it holds a blank, with the backslashes before a quote doubled and the quote escaped.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string quoted(1, '"');
    std::size_t backslashes = 0;
    for (const char character : argument) {
        if (character == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(character == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += character;
    }
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

}  // namespace

std::optional<std::filesystem::path> FindProgram(const std::string& name) {
    const std::string file = name + ".exe";
    char found[MAX_PATH];
    if (SearchPathA(nullptr, file.c_str(), nullptr, sizeof found, found, nullptr) != 0) {
        return std::filesystem::path(found);
    }
    char programFiles[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("ProgramFiles", programFiles, sizeof programFiles);
    if (length == 0 || length >= sizeof programFiles) return std::nullopt;
    const std::filesystem::path installed =
        std::filesystem::path(programFiles) / "Wireshark" / file;
    std::error_code error;
    if (std::filesystem::is_regular_file(installed, error)) return installed;
    return std::nullopt;
}

struct PipedProcess::Handles {
    HANDLE process = nullptr;
    std::FILE* input = nullptr;
    HANDLE output = nullptr;
};

PipedProcess::PipedProcess(const std::filesystem::path& program,
                           const std::vector<std::string>& arguments)
    : handles_(std::make_unique<Handles>()) {
    // The child's ends are inherited, this process's ends are not.
    SECURITY_ATTRIBUTES inherited{.nLength = sizeof(SECURITY_ATTRIBUTES),
                                  .lpSecurityDescriptor = nullptr,
                                  .bInheritHandle = TRUE};
    HANDLE inputRead = nullptr;
    HANDLE inputWrite = nullptr;
    HANDLE outputRead = nullptr;
    HANDLE outputWrite = nullptr;
    if (CreatePipe(&inputRead, &inputWrite, &inherited, 0) == FALSE) {
        error_ = static_cast<int>(GetLastError());
        return;
    }
    if (CreatePipe(&outputRead, &outputWrite, &inherited, 0) == FALSE) {
        error_ = static_cast<int>(GetLastError());
        CloseHandle(inputRead);
        CloseHandle(inputWrite);
        return;
    }
    SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);

    std::string commandLine = Quoted(program.string());
    for (const std::string& argument : arguments) {
        commandLine += ' ';
        commandLine += Quoted(argument);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    // A process group of its own: Ctrl-C in the console reaches only this program.
    const std::string name = program.string();
    if (CreateProcessA(name.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &started) == FALSE) {
        error_ = static_cast<int>(GetLastError());
        CloseHandle(inputWrite);
        CloseHandle(outputRead);
    } else {
        CloseHandle(started.hThread);
        handles_->process = started.hProcess;
        handles_->output = outputRead;
        const int descriptor =
            _open_osfhandle(reinterpret_cast<std::intptr_t>(inputWrite), _O_BINARY);
        handles_->input = descriptor >= 0 ? _fdopen(descriptor, "wb") : nullptr;
        if (handles_->input == nullptr) {
            error_ = ERROR_INVALID_HANDLE;
            if (descriptor >= 0) {
                _close(descriptor);
            } else {
                CloseHandle(inputWrite);
            }
        }
    }
    CloseHandle(inputRead);
    CloseHandle(outputWrite);
}

PipedProcess::~PipedProcess() {
    CloseInput();
    CloseOutput();
    if (handles_->process != nullptr) {
        WaitForSingleObject(handles_->process, INFINITE);
        CloseHandle(handles_->process);
    }
}

std::FILE* PipedProcess::Input() const { return handles_->input; }

void PipedProcess::CloseInput() {
    if (handles_->input != nullptr) (void)std::fclose(handles_->input);
    handles_->input = nullptr;
}

std::optional<std::size_t> PipedProcess::ReadOutput(char* bytes, std::size_t size) {
    DWORD read = 0;
    if (ReadFile(handles_->output, bytes, static_cast<DWORD>(size), &read, nullptr) == FALSE) {
        // The program ended and its end of the pipe is closed.
        if (GetLastError() == ERROR_BROKEN_PIPE) return 0;
        return std::nullopt;
    }
    return read;
}

void PipedProcess::CloseOutput() {
    if (handles_->output != nullptr) CloseHandle(handles_->output);
    handles_->output = nullptr;
}

}  // namespace mirrowen::tool::platform
