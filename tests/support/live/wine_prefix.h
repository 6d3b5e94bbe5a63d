// Windows programs under Wine with real traffic: Mirrowen.dll of either architecture, and hosts
// of it, over Wine's own wpcap.dll, which (Wine 8) forwards to the machine's libpcap of the same
// architecture and lists each adapter as \Device\NPF_{0000000N-0000-0000-0000-4E6574446576} (N its
// interface index) with its Linux name as the description.
//
// Such a program must only ever run inside a network namespace of the test's own (VethNamespace):
// a WinePrefix is made and booted, its wineserver first, from the calling thread while that thread
// is inside the namespace, so every process of the prefix is too and sees only the namespace's
// adapters (the test's veth ends and loopback). The Windows tests' own prefix
// (scripts/test-windows) never loads Wine's wpcap.dll; this one always does.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "test_core.h"

namespace mirrowen::testing {

enum class WineArchitecture { x86, x64 };
// "x86" or "x64".
const char* WineArchitectureName(WineArchitecture architecture);

// A Wine prefix of the test's own (win32 for x86, win64 for x64), in a temporary folder, booted on
// construction (some 15 s) by tests/windows/boot-wine-prefix, with Wine's builtin wpcap.dll; the
// destructor ends every process of the prefix and deletes it.
class WinePrefix {
  public:
    // Throws, with Wine's output, when the prefix does not start.
    explicit WinePrefix(WineArchitecture architecture);
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // Why Windows programs of the architecture cannot run here (no Wine for it); empty when they
    // can.
    static std::string WhyItCannotRun(WineArchitecture architecture);
    // The path by which Windows programs see a Linux path: Wine's drive Z: is the root.
    static std::string WindowsPath(const std::filesystem::path& path);

    // Starts `command`, the Linux path of a Windows program and its arguments, under Wine, with
    // standard input read from `input` (-1: none) and output written to files: never to a pipe,
    // which Wine's background processes would hold open after the program's end.
    pid_t Start(const std::vector<std::string>& command, int input,
                const std::filesystem::path& output, const std::filesystem::path& errors) const;
    // A file of the prefix's own folder, for a program's output.
    std::filesystem::path OutputFile(const std::string& name) const {
        return folder_.path() / name;
    }

  private:
    // Starts a Linux program (looked up in PATH when it has no slash) in the prefix's environment.
    pid_t Spawn(const std::vector<std::string>& command, int input,
                const std::filesystem::path& output, const std::filesystem::path& errors) const;
    void Stop() const;

    TemporaryFolder folder_;
    std::vector<std::string> environment_;
};

// One Windows program of a WinePrefix, started on construction. Its standard input is a pipe that
// the test closes to tell it to finish; its output goes to files, read as it is written. The
// destructor kills it (by its PID) if it is still running.
class WineProgram {
  public:
    WineProgram(const WinePrefix& prefix, const std::vector<std::string>& command);
    ~WineProgram();
    WineProgram(const WineProgram&) = delete;
    WineProgram& operator=(const WineProgram&) = delete;

    void CloseInput();
    // Sends a signal to the program: Wine runs it in the process it was started as, and turns
    // SIGINT into the console's Ctrl-C event.
    void Signal(int signalNumber) const;
    // The first line of standard output that starts with `start`, once written within `limit`.
    std::optional<std::string> WaitForLine(const std::string& start,
                                           std::chrono::milliseconds limit);
    // The exit status, once the program has exited within `limit`; -1 if it did not exit
    // normally.
    std::optional<int> WaitForExit(std::chrono::milliseconds limit);
    // Standard output's lines, without the line ends (CR LF, as Windows programs write them, or
    // LF); standard error as written.
    std::vector<std::string> OutputLines() const;
    std::string Errors() const;

  private:
    std::filesystem::path output_;
    std::filesystem::path errors_;
    int input_ = -1;
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

}  // namespace mirrowen::testing
