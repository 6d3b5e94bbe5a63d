#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace mirrowen::tooltest {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    int outputEnds[2];
    int errorEnds[2];
    if (pipe2(outputEnds, O_CLOEXEC) != 0 || pipe2(errorEnds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(outputEnds[1], STDOUT_FILENO);
        dup2(errorEnds[1], STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(outputEnds[1]);
    close(errorEnds[1]);
    outputPipe_ = outputEnds[0];
    errorPipe_ = errorEnds[0];
}

ChildProcess::~ChildProcess() {
    if (Running()) {
        kill(pid_, SIGKILL);
        Reap(true);
    }
    if (outputPipe_ >= 0) close(outputPipe_);
    if (errorPipe_ >= 0) close(errorPipe_);
}

void ChildProcess::Collect(int timeoutMs) {
    pollfd pipes[2] = {{outputPipe_, POLLIN, 0}, {errorPipe_, POLLIN, 0}};
    if (poll(pipes, 2, timeoutMs) <= 0) return;
    std::string* targets[2] = {&output_, &errors_};
    for (int index = 0; index < 2; ++index) {
        if ((pipes[index].revents & (POLLIN | POLLHUP)) == 0) continue;
        char buffer[4096];
        const ssize_t size = read(pipes[index].fd, buffer, sizeof buffer);
        if (size > 0) targets[index]->append(buffer, static_cast<std::size_t>(size));
    }
}

void ChildProcess::Reap(bool block) {
    int waitStatus = 0;
    pid_t reaped;
    do {
        reaped = waitpid(pid_, &waitStatus, block ? 0 : WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    if (reaped == pid_) {
        if (WIFEXITED(waitStatus)) status_ = WEXITSTATUS(waitStatus);
        if (WIFSIGNALED(waitStatus)) status_ = kSignalStatusBase + WTERMSIG(waitStatus);
        pid_ = -1;
    }
}

bool ChildProcess::Running() {
    if (pid_ > 0) Reap(false);
    return pid_ > 0;
}

void ChildProcess::Signal(int signalNumber) {
    if (pid_ > 0) kill(pid_, signalNumber);
}

bool ChildProcess::WaitUntilTaken(int signalNumber) {
    const std::uint64_t bit = std::uint64_t{1} << (signalNumber - 1);
    for (int wait = 0; wait < 1000 && pid_ > 0; ++wait) {
        // Signals sent to the process wait in its shared set, "ShdPnd:" and a hexadecimal mask.
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::uint64_t pending = 0;
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("ShdPnd:")) pending = std::stoull(line.substr(7), nullptr, 16);
        }
        if ((pending & bit) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (Running() && Clock::now() < deadline) Collect(20);
    if (Running()) {
        kill(pid_, SIGKILL);
        Reap(true);
        return false;
    }
    // The child has exited: what is left in the pipes ends at their end of file.
    for (const int pipe : {outputPipe_, errorPipe_}) {
        std::string& target = pipe == outputPipe_ ? output_ : errors_;
        char buffer[4096];
        ssize_t size;
        while ((size = read(pipe, buffer, sizeof buffer)) > 0) {
            target.append(buffer, static_cast<std::size_t>(size));
        }
    }
    return true;
}

Finished Run(const std::string& program, const std::vector<std::string>& arguments,
             std::chrono::milliseconds timeout) {
    ChildProcess child(program, arguments);
    Finished finished;
    finished.exited = child.WaitForExit(timeout);
    finished.status = child.Status();
    finished.output = child.Output();
    finished.errors = child.Errors();
    return finished;
}

}  // namespace mirrowen::tooltest
