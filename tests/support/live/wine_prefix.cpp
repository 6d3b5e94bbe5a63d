#include "wine_prefix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace mirrowen::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string FileText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Waits, within `limit`, for a child to exit; its status, or nullopt while it runs.
std::optional<int> WaitForChild(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        int status = 0;
        const pid_t waited = waitpid(pid, &status, WNOHANG);
        if (waited == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (waited < 0) return -1;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(10ms);
    }
}

void KillAndReap(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// The prefix's WINEARCH.
const char* PrefixArchitecture(WineArchitecture architecture) {
    return architecture == WineArchitecture::x86 ? "win32" : "win64";
}

}  // namespace

const char* WineArchitectureName(WineArchitecture architecture) {
    return architecture == WineArchitecture::x86 ? "x86" : "x64";
}

std::string WinePrefix::WhyItCannotRun(WineArchitecture architecture) {
    const std::string command = std::string("WINEARCH=") + PrefixArchitecture(architecture) + " " +
                                MIRROWEN_RUN_WINE + " --version >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        return architecture == WineArchitecture::x86
                   ? "no 32-bit Wine here (apt-get install wine32:i386 libpcap0.8:i386)"
                   : "no 64-bit Wine here (apt-get install wine64)";
    }
    return {};
}

std::string WinePrefix::WindowsPath(const fs::path& path) {
    std::string windows = "Z:" + fs::absolute(path).string();
    for (char& character : windows) {
        if (character == '/') character = '\\';
    }
    return windows;
}

WinePrefix::WinePrefix(WineArchitecture architecture) {
    // The environment of every Wine process of the prefix: the test's own, less any Wine setting
    // or display it may carry, and the prefix's. wineserver keeps its socket folder under TMPDIR,
    // which lies inside the prefix's folder and goes with it.
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        const std::string name = entry.substr(0, entry.find('='));
        if (name.starts_with("WINE") || name == "TMPDIR" || name == "DISPLAY" ||
            name == "WAYLAND_DISPLAY") {
            continue;
        }
        environment_.push_back(entry);
    }
    fs::create_directories(folder_.path() / "tmp");
    environment_.insert(environment_.end(),
                        {"WINEPREFIX=" + (folder_.path() / "prefix").string(),
                         std::string("WINEARCH=") + PrefixArchitecture(architecture),
                         "WINEDEBUG=-all", "TMPDIR=" + (folder_.path() / "tmp").string(),
                         // No Mono or Gecko installers; Wine's own wpcap.dll.
                         "WINEDLLOVERRIDES=mscoree=;mshtml=;wpcap=b"});

    const fs::path log = folder_.path() / "boot.log";
    const pid_t boot = Spawn({MIRROWEN_BOOT_WINE_PREFIX, folder_.path().string()}, -1, log, log);
    const std::optional<int> status = WaitForChild(boot, 400s);
    if (!status) KillAndReap(boot);
    if (status != 0) {
        Stop();
        throw std::runtime_error("the Wine prefix did not start:\n" + FileText(log));
    }
}

WinePrefix::~WinePrefix() { Stop(); }

// Ends every process of the prefix, its persistent wineserver last, and waits for them.
void WinePrefix::Stop() const {
    const fs::path log = folder_.path() / "stop.log";
    for (const char* option : {"-k", "-w"}) {
        const pid_t stop = Spawn({"wineserver", option}, -1, log, log);
        if (!WaitForChild(stop, 60s)) KillAndReap(stop);
    }
}

pid_t WinePrefix::Start(const std::vector<std::string>& command, int input, const fs::path& output,
                        const fs::path& errors) const {
    std::vector<std::string> underWine{MIRROWEN_RUN_WINE};
    underWine.insert(underWine.end(), command.begin(), command.end());
    return Spawn(underWine, input, output, errors);
}

pid_t WinePrefix::Spawn(const std::vector<std::string>& command, int input, const fs::path& output,
                        const fs::path& errors) const {
    // Everything the child needs is made before the fork: after it, the child of a process with
    // threads makes only calls that are safe there.
    std::vector<char*> arguments;
    for (const std::string& argument : command) {
        arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);
    std::vector<char*> environment;
    for (const std::string& entry : environment_) {
        environment.push_back(const_cast<char*>(entry.c_str()));
    }
    environment.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // A test that dies does not leave its programs running.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int in = input >= 0 ? input : open("/dev/null", O_RDONLY);
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0) {
            _exit(126);
        }
        execvpe(arguments[0], arguments.data(), environment.data());
        _exit(127);
    }
    return pid;
}

WineProgram::WineProgram(const WinePrefix& prefix, const std::vector<std::string>& command) {
    static std::atomic<int> counter{0};
    const std::string name = "program-" + std::to_string(counter++);
    output_ = prefix.OutputFile(name + ".out");
    errors_ = prefix.OutputFile(name + ".err");
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
    input_ = pipeEnds[1];
    try {
        pid_ = prefix.Start(command, pipeEnds[0], output_, errors_);
    } catch (...) {
        close(pipeEnds[0]);
        close(input_);
        throw;
    }
    close(pipeEnds[0]);
}

WineProgram::~WineProgram() {
    CloseInput();
    if (!WaitForExit(0ms)) KillAndReap(pid_);
}

void WineProgram::CloseInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
}

void WineProgram::Signal(int signalNumber) const {
    if (!exitStatus_) kill(pid_, signalNumber);
}

std::optional<std::string> WineProgram::WaitForLine(const std::string& start,
                                                    std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        const bool ended = WaitForExit(0ms).has_value();  // before the read: its last lines count
        for (const std::string& line : OutputLines()) {
            if (line.starts_with(start)) return line;
        }
        if (ended || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(20ms);
    }
}

std::optional<int> WineProgram::WaitForExit(std::chrono::milliseconds limit) {
    if (!exitStatus_) exitStatus_ = WaitForChild(pid_, limit);
    return exitStatus_;
}

std::vector<std::string> WineProgram::OutputLines() const {
    std::vector<std::string> lines;
    std::istringstream output(FileText(output_));
    for (std::string line; std::getline(output, line);) {
        if (line.ends_with('\r')) line.pop_back();
        lines.push_back(line);
    }
    return lines;
}
std::string WineProgram::Errors() const { return FileText(errors_); }

}  // namespace mirrowen::testing
