#pragma once
// The halvix executable as a child process: started with arguments and an
// environment of its own, its standard output and error kept in files, and
// ended with a signal.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace halvix::test {

struct ProcessOutcome {
  // The exit code, or -1 when the process ended by a signal.
  int exitCode = -1;
  std::string out;
  std::string err;
};

class HostProcess {
 public:
  // Starts `program` with `arguments`; `environment` entries ("NAME=value")
  // are added to this process's environment. Output goes to files in `logs`.
  HostProcess(const std::string& program, const std::vector<std::string>& arguments,
              const std::filesystem::path& logs, const std::vector<std::string>& environment = {});
  // Kills a process still running.
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // True once a connection to the messenger socket at `path` succeeds;
  // false when the process ended first or `timeout` passed.
  bool waitForSocket(const std::string& path, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Sends `signal` (none with 0) and waits for the end.
  ProcessOutcome finish(int signal);

 private:
  pid_t pid_ = -1;
  std::filesystem::path outPath_;
  std::filesystem::path errPath_;
};

// Runs a program to its end.
ProcessOutcome runToEnd(const std::string& program, const std::vector<std::string>& arguments,
                        const std::filesystem::path& logs, const std::vector<std::string>& environment = {});

std::string readWholeFile(const std::filesystem::path& path);

}  // namespace halvix::test
