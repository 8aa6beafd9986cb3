#pragma once
// The halvix executable as a child process: started with arguments and an
// environment of its own, its standard output and error kept in files, and
// asked to end (a signal; on Windows WM_CLOSE to its windows, or
// TerminateProcess). What every system shares is in host_process.cpp, the
// rest in host_process_posix.cpp and host_process_win32.cpp.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace halvix::test {

struct ProcessOutcome {
  // The exit code, or -1 when the process ended by a signal (or, on
  // Windows, was ended by kill()).
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Where a child's standard output and error go; the same path for both
// interleaves them in one file, as "2>&1" does.
struct OutputFiles {
  std::filesystem::path out;
  std::filesystem::path err;
};

// The file that swallows whatever is written to it.
inline const char* const kNullDevice =
#ifdef _WIN32
    "NUL";
#else
    "/dev/null";
#endif

class HostProcess {
 public:
  // Starts `program` (found on the search path unless it names a folder)
  // with `arguments`; `environment` entries ("NAME=value") are added to this
  // process's environment. Output goes to out.txt and err.txt in `logs`.
  HostProcess(const std::string& program, const std::vector<std::string>& arguments,
              const std::filesystem::path& logs, const std::vector<std::string>& environment = {});
  // The same with the output in the files given.
  HostProcess(const std::string& program, const std::vector<std::string>& arguments, const OutputFiles& files,
              const std::vector<std::string>& environment = {});
  // Kills a process still running.
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool started() const { return process_ != 0; }
  // True once a connection to the messenger socket at `path` succeeds;
  // false when the process ended first or `timeout` passed.
  bool waitForSocket(const std::string& path, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // True once the process has ended, false when `timeout` passed first;
  // finish() then collects it.
  bool waitForExit(std::chrono::milliseconds timeout);
  // Sends `signal` (none with 0) and waits for the end. On Windows SIGINT
  // and SIGTERM ask it to close as a user would (WM_CLOSE to its top-level
  // windows), 0 only waits and any other number ends it at once.
  ProcessOutcome finish(int signal);
  // The same on every system: asks the process to close, or ends it at once.
  ProcessOutcome close();
  ProcessOutcome kill();

 private:
  // Starts the process, its output going to outPath_ and errPath_.
  void start(const std::string& program, const std::vector<std::string>& arguments,
             const std::vector<std::string>& environment);

  // The process id on POSIX systems, the process handle on Windows; 0 when
  // there is none.
  std::intptr_t process_ = 0;
  // Set once the process is known to have ended.
  bool exited_ = false;
  int exitCode_ = -1;
  std::filesystem::path outPath_;
  std::filesystem::path errPath_;
};

// Runs a program to its end.
ProcessOutcome runToEnd(const std::string& program, const std::vector<std::string>& arguments,
                        const std::filesystem::path& logs, const std::vector<std::string>& environment = {});
// Runs a command (its program first) to its end, its standard output and
// error going to the files given (or nowhere). Its exit code, or -1 when it
// could not start or did not exit.
int runToEnd(const std::vector<std::string>& command, const std::filesystem::path& outPath = kNullDevice,
             const std::filesystem::path& errPath = kNullDevice);

std::string readWholeFile(const std::filesystem::path& path);

// A program's text output with Windows' text-mode line ends (CR LF) read
// back as "\n"; other systems' output is unchanged.
inline std::string textLines(std::string text) {
  std::erase(text, '\r');
  return text;
}

}  // namespace halvix::test
