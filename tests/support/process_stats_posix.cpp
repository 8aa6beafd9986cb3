#include "tests/support/process_stats.h"

#include <dirent.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace halvix::test {

std::size_t threadCount() {
  std::size_t n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++n;
    }
    closedir(dir);
  }
  return n;
}

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

bool heapChecksFrees() { return false; }

std::size_t openHandles() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

}  // namespace halvix::test
