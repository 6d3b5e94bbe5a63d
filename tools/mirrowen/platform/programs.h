// Other programs the tool runs (tcpdump or tshark, for --show). Each platform folder implements it
// in its programs.cpp.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mirrowen::tool::platform {

// The program of that name on PATH (on Windows also in Wireshark's default folder, where tshark.exe
// is installed), or nothing.
std::optional<std::filesystem::path> FindProgram(const std::string& name);

// A program started with a pipe into its standard input and one from its standard output; its
// standard error is this process's. It takes no stop request from the terminal (it runs in a
// process group of its own), so that after a Ctrl-C it still prints what its input holds: it
// ends when its input does.
class PipedProcess {
  public:
    PipedProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments);
    // Closes both pipes and waits for it to end.
    ~PipedProcess();
    PipedProcess(const PipedProcess&) = delete;
    PipedProcess& operator=(const PipedProcess&) = delete;

    // 0 once it started; else the system's reason.
    int Error() const { return error_; }
    // Its standard input, taking binary data unchanged.
    std::FILE* Input() const;
    // Its input ends: it prints what is left and ends.
    void CloseInput();
    // Up to `size` bytes of its output: how many, 0 at its end; nothing when the read failed.
    std::optional<std::size_t> ReadOutput(char* bytes, std::size_t size);
    // Its output is no longer read: its next write fails.
    void CloseOutput();

  private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
    int error_ = 0;
};

}  // namespace mirrowen::tool::platform
