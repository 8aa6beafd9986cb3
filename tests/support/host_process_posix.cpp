// Child processes on POSIX systems: posix_spawnp, waitpid and signals.
#include "tests/support/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace halvix::test {

namespace {

bool connects(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

void HostProcess::start(const std::string& program, const std::vector<std::string>& arguments,
                        const std::vector<std::string>& environment) {
  std::vector<std::string> argumentStore{program};
  argumentStore.insert(argumentStore.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : argumentStore) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> environmentStore(environment);
  for (char** entry = environ; *entry; ++entry) environmentStore.emplace_back(*entry);
  std::vector<char*> envp;
  for (auto& entry : environmentStore) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (errPath_ == outPath_)
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) process_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

namespace {

// The exit code of a status from waitpid, -1 for an end by a signal.
int exitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

bool HostProcess::waitForSocket(const std::string& path, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (process_ != 0 && std::chrono::steady_clock::now() < deadline) {
    if (connects(path)) return true;
    if (waitForExit(std::chrono::milliseconds(0))) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

bool HostProcess::waitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (process_ != 0 && !exited_) {
    int status = 0;
    if (::waitpid(static_cast<pid_t>(process_), &status, WNOHANG) == process_) {
      exited_ = true;
      exitCode_ = exitCodeOf(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

ProcessOutcome HostProcess::finish(int signal) {
  ProcessOutcome outcome;
  if (process_ != 0) {
    if (!exited_) {
      if (signal) ::kill(static_cast<pid_t>(process_), signal);
      int status = 0;
      while (::waitpid(static_cast<pid_t>(process_), &status, 0) < 0 && errno == EINTR) {
      }
      exitCode_ = exitCodeOf(status);
    }
    outcome.exitCode = exitCode_;
    process_ = 0;
  }
  outcome.out = readWholeFile(outPath_);
  outcome.err = readWholeFile(errPath_);
  return outcome;
}

ProcessOutcome HostProcess::kill() { return finish(SIGKILL); }

}  // namespace halvix::test
