#include "platform/console.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>

#include <io.h>

#include "platform/text_win32.h"

namespace halvix::platform {

namespace {

std::atomic<bool> g_consolePresent{false};

// Standard output or error on the new console; when the stream cannot be
// reopened, the descriptor of standard output is copied onto its number.
void reopenOnConsole(FILE* stream, int descriptor) {
  if (std::freopen("CONOUT$", "w", stream) == nullptr) ::_dup2(::_fileno(stdout), descriptor);
}

// The console device ("CONOUT$"), opened once and kept: the process has at
// most one console and keeps it.
class ConsoleOutput {
 public:
  bool open() {
    std::lock_guard<std::mutex> lock(mutex_);
    return openLocked();
  }

  void write(const char* text, std::size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!openLocked()) return;
    const std::wstring wide = widen(std::string_view(text, length));
    for (std::size_t done = 0; done < wide.size();) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 16384));
      DWORD written = 0;
      if (!::WriteConsoleW(device_, wide.data() + done, chunk, &written, nullptr) || written == 0) return;
      done += written;
    }
  }

 private:
  bool openLocked() {
    if (device_ == INVALID_HANDLE_VALUE)
      device_ = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    return device_ != INVALID_HANDLE_VALUE;
  }

  std::mutex mutex_;
  HANDLE device_ = INVALID_HANDLE_VALUE;
};

ConsoleOutput& output() {
  static ConsoleOutput instance;
  return instance;
}

}  // namespace

void setConsolePresent(bool present) { g_consolePresent.store(present, std::memory_order_relaxed); }

ConsoleOpened openConsole() {
  // ERROR_ACCESS_DENIED: the process has a console already. It counts only
  // if its device opens; a process started without one (Wine's, with its
  // output in a pipe) may still say so.
  const bool attached = ::AttachConsole(ATTACH_PARENT_PROCESS) || ::GetLastError() == ERROR_ACCESS_DENIED;
  bool present = attached && output().open();
  bool created = false;
  if (!present && !attached && ::AllocConsole()) {
    created = true;
    reopenOnConsole(stdout, 1);
    reopenOnConsole(stderr, 2);
    // The C++ streams write through the C streams; clear what they
    // remembered of the old, missing files.
    std::cout.clear();
    std::cerr.clear();
    std::wcout.clear();
    std::wcerr.clear();
    present = output().open();
  }
  setConsolePresent(present);
  if (!present) return ConsoleOpened::kNone;
  return created ? ConsoleOpened::kCreated : ConsoleOpened::kAttached;
}

bool debuggerAttached() { return ::IsDebuggerPresent() != FALSE; }

bool consolePresent() { return g_consolePresent.load(std::memory_order_relaxed); }

void consoleWrite(const char* text, std::size_t length) {
  if (!consolePresent() || length == 0) return;
  output().write(text, length);
}

}  // namespace halvix::platform
