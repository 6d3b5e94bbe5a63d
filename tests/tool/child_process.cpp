#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

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
        status_ = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
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
