#include "platform/console.h"

#include <atomic>
#include <cstdio>

namespace halvix::platform {

namespace {
std::atomic<bool> g_consolePresent{false};
}

void setConsolePresent(bool present) { g_consolePresent.store(present, std::memory_order_relaxed); }

bool consolePresent() { return g_consolePresent.load(std::memory_order_relaxed); }

void consoleWrite(const char* text, std::size_t length) {
  if (!consolePresent() || length == 0) return;
  std::fwrite(text, 1, length, stderr);
  std::fflush(stderr);
}

}  // namespace halvix::platform
