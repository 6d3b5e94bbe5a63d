// Other programs on POSIX: found on PATH, started with posix_spawn.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>  // environ, which g++ (_GNU_SOURCE) has it declare

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "platform/programs.h"

namespace mirrowen::tool::platform {

std::optional<std::filesystem::path> FindProgram(const std::string& name) {
    // Read before any thread starts: nothing sets the environment meanwhile.
    const char* path = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe)
    std::istringstream folders(path != nullptr ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::filesystem::path candidate =
            std::filesystem::path(folder.empty() ? "." : folder) / name;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

struct PipedProcess::Handles {
    pid_t child = -1;
    std::FILE* input = nullptr;
    int output = -1;
};

PipedProcess::PipedProcess(const std::filesystem::path& program,
                           const std::vector<std::string>& arguments)
    : handles_(std::make_unique<Handles>()) {
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
        error_ = errno;
        for (const int end : {input[0], input[1]}) {
            if (end >= 0) close(end);
        }
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    // A process group of its own, so that Ctrl-C reaches only this program; the signals this one
    // blocks or ignores (a closed pipe) back to their defaults.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (const int signalNumber : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&signals, signalNumber);
    }
    posix_spawnattr_setsigdefault(&attributes, &signals);

    std::vector<std::string> words = {program.string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    error_ =
        posix_spawn(&handles_->child, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(input[0]);
    close(output[1]);
    if (error_ != 0) {
        handles_->child = -1;
        close(input[1]);
        close(output[0]);
        return;
    }
    handles_->input = fdopen(input[1], "wb");
    if (handles_->input == nullptr) {
        error_ = errno;
        close(input[1]);
    }
    handles_->output = output[0];
}

PipedProcess::~PipedProcess() {
    CloseInput();
    CloseOutput();
    if (handles_->child > 0) {
        int status = 0;
        while (waitpid(handles_->child, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

std::FILE* PipedProcess::Input() const { return handles_->input; }

void PipedProcess::CloseInput() {
    if (handles_->input != nullptr) (void)std::fclose(handles_->input);
    handles_->input = nullptr;
}

std::optional<std::size_t> PipedProcess::ReadOutput(char* bytes, std::size_t size) {
    for (;;) {
        const ssize_t result = read(handles_->output, bytes, size);
        if (result >= 0) return static_cast<std::size_t>(result);
        if (errno != EINTR) return std::nullopt;
    }
}

void PipedProcess::CloseOutput() {
    if (handles_->output >= 0) close(handles_->output);
    handles_->output = -1;
}

}  // namespace mirrowen::tool::platform
