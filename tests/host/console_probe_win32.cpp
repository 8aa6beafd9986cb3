// Opens the console as the host's entry does and reports what came of it.
//   console_probe REPORT            writes a line to the console and
//                                   writes "<how> shown" (or "not shown")
//                                   to REPORT
//   console_probe --detached REPORT the same in a child process that has no
//                                   console to attach to, as when started
//                                   from the desktop; exits with its code
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/console.h"
#include "platform/text_win32.h"

namespace {

constexpr const char* kLine = "console-probe";

int runDetached(wchar_t* report) {
  // The child's parent must have no console either, or it would attach.
  FreeConsole();
  std::wstring commandLine = L"\"";
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  commandLine += self;
  commandLine += L"\" \"";
  commandLine += report;
  commandLine += L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                      &startup, &process))
    return 3;
  WaitForSingleObject(process.hProcess, 30000);
  DWORD code = 4;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

// Whether the line printed shows anywhere on the console's screen.
bool onScreen() {
  HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (screen == INVALID_HANDLE_VALUE) return false;
  std::wstring text(80 * 50, L' ');
  DWORD read = 0;
  ReadConsoleOutputCharacterW(screen, text.data(), static_cast<DWORD>(text.size()), COORD{0, 0}, &read);
  CloseHandle(screen);
  text.resize(read);
  return halvix::platform::narrow(text).find(kLine) != std::string::npos;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"--detached") return runDetached(argv[2]);
  if (argc != 2) return 2;
  const halvix::platform::ConsoleOpened opened = halvix::platform::openConsole();
  const std::string line = std::string(kLine) + "\n";
  halvix::platform::consoleWrite(line.data(), line.size());
  const char* how = opened == halvix::platform::ConsoleOpened::kCreated    ? "created"
                    : opened == halvix::platform::ConsoleOpened::kAttached ? "attached"
                                                                           : "none";
  std::ofstream(std::filesystem::path(argv[1])) << how << (onScreen() ? " shown" : " not shown");
  return 0;
}
