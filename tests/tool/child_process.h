// Runs a program as a user would, collecting its output and exit status, never for longer than
// the test allows.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace mirrowen::tooltest {

class ChildProcess {
  public:
    // Starts program (looked up in PATH when it has no slash) with the given arguments.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    // Kills and reaps a child that is still running.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running();
    void Signal(int signalNumber);
    // Waits, within a bound, until a signal sent to the child has been taken (is no longer pending
    // for it); false if it is still pending then.
    bool WaitUntilTaken(int signalNumber);
    // Collects output until the child exits; false if it is still running after timeout (it is
    // then killed).
    bool WaitForExit(std::chrono::milliseconds timeout);

    // The exit status as a shell reports it: 128 + the signal's number for a child that a signal
    // ended; -1 while it has not ended.
    static constexpr int kSignalStatusBase = 128;
    int Status() const { return status_; }
    const std::string& Output() const { return output_; }
    const std::string& Errors() const { return errors_; }

  private:
    void Collect(int timeoutMs);
    void Reap(bool block);

    pid_t pid_ = -1;
    int outputPipe_ = -1;
    int errorPipe_ = -1;
    int status_ = -1;
    std::string output_;
    std::string errors_;
};

struct Finished {
    bool exited = false;
    int status = -1;
    std::string output;
    std::string errors;
};

// Runs a program to its end, allowing it timeout.
Finished Run(const std::string& program, const std::vector<std::string>& arguments,
             std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace mirrowen::tooltest
