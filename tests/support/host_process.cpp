// What child processes do the same way on every system; starting, waiting
// and ending them is in host_process_posix.cpp and host_process_win32.cpp.
#include "tests/support/host_process.h"

#include <fstream>
#include <csignal>
#include <sstream>

namespace halvix::test {

std::string readWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

HostProcess::HostProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& logs, const std::vector<std::string>& environment)
    : HostProcess(program, arguments, OutputFiles{logs / "out.txt", logs / "err.txt"}, environment) {}

HostProcess::HostProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const OutputFiles& files, const std::vector<std::string>& environment)
    : outPath_(files.out), errPath_(files.err) {
  start(program, arguments, environment);
}

HostProcess::~HostProcess() {
  if (process_ != 0) kill();
}

ProcessOutcome HostProcess::close() { return finish(SIGTERM); }

ProcessOutcome runToEnd(const std::string& program, const std::vector<std::string>& arguments,
                        const std::filesystem::path& logs, const std::vector<std::string>& environment) {
  HostProcess process(program, arguments, logs, environment);
  return process.finish(0);
}

int runToEnd(const std::vector<std::string>& command, const std::filesystem::path& outPath,
             const std::filesystem::path& errPath) {
  if (command.empty()) return -1;
  HostProcess process(command.front(), {command.begin() + 1, command.end()}, OutputFiles{outPath, errPath});
  return process.finish(0).exitCode;
}

}  // namespace halvix::test
