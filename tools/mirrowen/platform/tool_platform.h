// What the mirrowen tool needs from the operating system and from the capture library, in the
// tool's own terms. Each platform folder (posix/, win32/) implements all of it, with its own
// constants (tool_constants.h, from the folder of the platform being built); the commands include
// only this header for such things, never a system header of one platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "tool_constants.h"

struct bpf_program;  // the capture library's compiled filter

namespace mirrowen::tool::platform {

// --- The process --------------------------------------------------------------------------------

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

// --- The terminal and standard output -----------------------------------------------------------

// Whether standard error is a terminal on which "\r\033[K" redraws the current line.
bool ErrorRedrawsLines();
// Whether standard output is a terminal.
bool OutputIsTerminal();
// Writes all of `text` to standard output, past the stream's buffer; false once it cannot (a
// closed pipe).
bool WriteOutput(const std::string& text);
// Standard output, set to take binary data unchanged.
std::FILE* BinaryOutput();

// --- Stop requests ------------------------------------------------------------------------------

// While it lives, a request to stop from outside (Ctrl-C, and the platform's other such signals or
// console events, see StopRequestText) stores 1 into `stopFlag`, one atomic 32-bit store, and is
// remembered; a second request ends the process at once. One at a time.
class StopRequests {
  public:
    explicit StopRequests(std::int32_t& stopFlag);
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    // The request that came, for StopRequestText; 0 while none did.
    int Received() const;

  private:
    struct Saved;  // what the platform restores afterwards
    std::unique_ptr<Saved> saved_;
};

// Threads started while it lives never take a request to stop (on POSIX they start with the stop
// signals blocked), so that none interrupts the capture library's waits or the printer's writes;
// the thread that made it takes them again once it is gone.
class StopRequestsOnThisThread {
  public:
    StopRequestsOnThisThread();
    ~StopRequestsOnThisThread();
    StopRequestsOnThisThread(const StopRequestsOnThisThread&) = delete;
    StopRequestsOnThisThread& operator=(const StopRequestsOnThisThread&) = delete;

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

// "stopped by Ctrl-C (SIGINT)", for the summary.
std::string StopRequestText(int request);

// --- Other programs -----------------------------------------------------------------------------

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

// --- Loading the capture module -----------------------------------------------------------------

// Where the module is looked for when no path is given, relative to this program's executable.
std::vector<std::filesystem::path> DefaultModulePaths();
// Loads a module; nullptr with the system's reason, naming the file, in `error`.
void* LoadModule(const std::filesystem::path& path, std::string& error);
void* ModuleFunction(void* module, const char* name);
void UnloadModule(void* module);

// --- Files --------------------------------------------------------------------------------------

// What stands at a name; a packet file is only ever a regular file.
enum class FileKind { kRegular, kLink, kFolder, kFifo, kDevice, kOther };

struct FileStatus {
    FileKind kind = FileKind::kOther;
    std::int64_t size = 0;
    timespec modified{};  // since 1970-01-01 UTC, as the file system keeps it
    // Which file it is: two names with the same device and identity name the same file.
    std::uint64_t device = 0;
    std::uint64_t identity = 0;
    std::uint64_t links = 0;  // names the file has
};

// The status of what `path` names, following a link; 0, or the system's reason.
int StatusOf(const std::string& path, FileStatus& status);

// A regular file opened for reading. A link, a FIFO, a device or a folder at the name is never
// followed or read (its kind is in Status(), and Read reads nothing), nor on POSIX opened, so that
// nothing standing there can block the read or be set off by an open; released with the object.
class InputFile {
  public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // 0 once the name's status is read (and a regular file opened); else the system's reason.
    int Error() const { return error_; }
    const FileStatus& Status() const { return status_; }
    // Reads up to `size` bytes: how many, 0 at the end; nothing, with the system's reason in
    // Error(), when the read failed.
    std::optional<std::size_t> Read(unsigned char* bytes, std::size_t size);

  private:
    std::intptr_t handle_ = -1;
    int error_ = 0;
    FileStatus status_;
};

enum class PathKind { kFolder, kOther, kMissing };
// What stands at `path`; 0, or the system's reason when that cannot be told.
int KindOf(const std::string& path, PathKind& kind);

// Whether `folder` is the file system's root (on Windows a volume's), however it is spelled.
bool IsRootFolder(const std::string& folder);
// The folder that holds `path`, cut at its last separator.
std::string ParentFolder(const std::string& path);
// Calls `take` with the name of every entry of `folder` (not "." and ".."), through the same calls
// that create and open the files; 0, or the system's reason.
int ForEachName(const std::string& folder, const std::function<void(const std::string&)>& take);
// The system's reason as an error code, for the text it gives.
std::error_code SystemErrorCode(int error);

// The path made absolute against the current folder, in the form the capture module takes.
std::optional<std::string> AbsolutePath(const std::string& path, std::string& error);

// Creates one folder (not its parents); 0, or the system's reason.
int MakeFolder(const std::string& path);
// Whether MakeFolder's reason is a missing parent folder.
bool IsMissingParent(int error);
// Creates, writes, closes and removes a file in the folder; 0, or the system's reason for the
// first of those that failed.
int WriteTrialFile(const std::string& folder);
// Whether a capture module's call holds the folder for its capture at this moment: asked for as
// the module claims it, and given back at once.
bool IsFolderCapturedInto(const std::string& folder);
// Removes a file; 0 also when there was none, else the system's reason.
int RemoveFile(const std::string& path);
// Removes a folder if it is empty; 0, or the system's reason.
int RemoveEmptyFolder(const std::string& path);

// The system's text for `error` met in `folder`; for a full file system, whether its space or its
// entries (inodes) ran out.
std::string FileSystemReason(int error, const std::string& folder);
// The same for a packet file that the module could not write, with what the platform's capture
// module never does in that case (follow a link) said where it was the cause.
std::string PacketFileReason(int error, const std::string& folder);

// --- The capture library ------------------------------------------------------------------------

struct Adapter {
    std::string device;  // the capture library's name, without "rpcap://"
    std::string description;
    bool up = false;
    bool running = false;
    bool loopback = false;
    bool wireless = false;
};

// The adapters the capture library reports, in its order; nothing, with its reason (or why there
// is no capture library) in `error`.
std::optional<std::vector<Adapter>> FindAdapters(std::string& error);

enum class OpenStatus { kOpened, kNoSuchDevice, kDown, kDenied, kFailed };
struct OpenTrial {
    OpenStatus status = OpenStatus::kFailed;
    bool ethernet = false;
    std::string linkDescription;  // of a link that is not Ethernet, empty if the library has none
};
// Opens the device for a moment, as the capture would (promiscuous or not), and closes it again.
OpenTrial TryOpen(const std::string& device, bool promiscuous);

// Whether a live capture of the capture library is open in this process on `device`, as the
// system shows it, and the adapter carries Ethernet, so that the module goes on to capture. On
// Linux libpcap maps each live capture's ring into the process as the last step of its
// activation, once the kernel has set the ring up (which takes it seconds for a large one); the
// tool opens none of its own while the module captures, and then asks the adapter's link type
// itself (the module, which checks it next, may not have ended yet). Windows shows no such sign:
// there it is true before the call already, and a capture counts as live from the call.
bool CaptureIsOpenInProcess(const std::string& device);

// What to do about a device that the capture module could not open, from the capture library's
// own answer when it is tried again.
std::string AdapterOpenAdvice(const std::string& device);

// A filter program compiled by the capture library, released through it.
struct FilterRelease {
    void operator()(bpf_program* program) const;
};
using Filter = std::unique_ptr<bpf_program, FilterRelease>;
// Compiles a filter expression for Ethernet frames of up to `snapshotLength` bytes; nothing, with
// the capture library's reason in `error`, for a bad one or where filters cannot be had.
Filter CompileFilter(const std::string& expression, int snapshotLength, std::string& error);
bool FilterMatches(const bpf_program& program, std::span<const unsigned char> frame);

// --- The demo, where kHasDemo -------------------------------------------------------------------

// A UDP socket that sends datagrams to a socket of its own on 127.0.0.1, never anywhere else.
class LoopbackSender {
  public:
    LoopbackSender();  // says on stderr when it cannot have its sockets; Send then sends nothing
    ~LoopbackSender();
    LoopbackSender(const LoopbackSender&) = delete;
    LoopbackSender& operator=(const LoopbackSender&) = delete;

    bool Ready() const;
    void Send(std::span<const char> datagram) const;

  private:
    struct Sockets;
    std::unique_ptr<Sockets> sockets_;
};

}  // namespace mirrowen::tool::platform
