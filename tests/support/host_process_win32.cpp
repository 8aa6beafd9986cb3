// Child processes on Windows: CreateProcessW with a command line quoted the
// way the C runtime splits it, an environment block with the additions in
// front of what they override, and standard output and error in files.
#include "tests/support/host_process.h"

#include <winsock2.h>  // before windows.h, for Boost.Asio
#include <windows.h>

#include <algorithm>
#include <csignal>
#include <thread>

#include "standins/flutter_engine/messenger_socket.h"
#include "platform/text_win32.h"

namespace halvix::test {

namespace {

using platform::widen;

HANDLE handleOf(std::intptr_t process) { return reinterpret_cast<HANDLE>(process); }

// One argument as CommandLineToArgvW and the C runtime read it back:
// quoted when it has spaces, tabs or quotes or is empty, with backslashes
// doubled where they precede a quote.
std::wstring quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  for (auto it = argument.begin();; ++it) {
    std::size_t backslashes = 0;
    while (it != argument.end() && *it == L'\\') {
      ++it;
      ++backslashes;
    }
    if (it == argument.end()) {
      out.append(backslashes * 2, L'\\');
      break;
    }
    if (*it == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    out.push_back(*it);
  }
  out.push_back(L'"');
  return out;
}

std::wstring nameOf(const std::wstring& entry) {
  // Entries such as "=C:=C:\..." keep their leading "=" in the name.
  std::size_t equals = entry.find(L'=', 1);
  return entry.substr(0, equals);
}

bool sameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// This process's environment with `additions` ("NAME=value") replacing the
// variables of the same name, as one double-terminated block.
std::wstring environmentBlock(const std::vector<std::string>& additions) {
  std::vector<std::wstring> entries;
  for (const auto& addition : additions) entries.push_back(widen(addition));
  std::size_t added = entries.size();
  if (wchar_t* current = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = current; *entry; entry += wcslen(entry) + 1) {
      std::wstring text(entry);
      bool overridden = false;
      for (std::size_t i = 0; i < added && !overridden; ++i) overridden = sameName(nameOf(entries[i]), nameOf(text));
      if (!overridden) entries.push_back(std::move(text));
    }
    FreeEnvironmentStringsW(current);
  }
  std::wstring block;
  for (const auto& entry : entries) block += entry + L'\0';
  block += L'\0';
  return block;
}

HANDLE inheritableFile(const std::filesystem::path& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

BOOL CALLBACK closeWindowOf(HWND window, LPARAM process) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(process)) PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

bool connects(const std::string& path) {
  try {
    flutter_engine::closeMessengerSocket(flutter_engine::connectMessenger(path));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

void HostProcess::start(const std::string& program, const std::vector<std::string>& arguments,
                        const std::vector<std::string>& environment) {
  std::wstring commandLine = quoted(widen(program));
  for (const auto& argument : arguments) commandLine += L" " + quoted(widen(argument));
  std::wstring block = environmentBlock(environment);
  HANDLE out = inheritableFile(outPath_);
  HANDLE err = errPath_ == outPath_ ? out : inheritableFile(errPath_);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION created{};
  if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
      // No application name: the system then finds "<program>.exe" too.
      CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                     block.data(), nullptr, &startup, &created)) {
    CloseHandle(created.hThread);
    process_ = reinterpret_cast<std::intptr_t>(created.hProcess);
  }
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (err != INVALID_HANDLE_VALUE && err != out) CloseHandle(err);
}

bool HostProcess::waitForSocket(const std::string& path, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (process_ != 0 && std::chrono::steady_clock::now() < deadline) {
    if (connects(path)) return true;
    if (waitForExit(std::chrono::milliseconds(0))) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool HostProcess::waitForExit(std::chrono::milliseconds timeout) {
  if (process_ == 0 || exited_) return true;
  DWORD wait = timeout.count() >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(std::max<long long>(timeout.count(), 0));
  if (WaitForSingleObject(handleOf(process_), wait) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  exited_ = true;
  exitCode_ = GetExitCodeProcess(handleOf(process_), &code) ? static_cast<int>(code) : -1;
  return true;
}

ProcessOutcome HostProcess::finish(int signal) {
  ProcessOutcome outcome;
  if (process_ != 0) {
    if (!exited_ && (signal == SIGINT || signal == SIGTERM)) {
      // Its windows may not all be there yet: asked again until it ends.
      do EnumWindows(closeWindowOf, static_cast<LPARAM>(GetProcessId(handleOf(process_))));
      while (!waitForExit(std::chrono::milliseconds(200)));
    } else if (!exited_ && signal != 0) {
      return kill();
    }
    waitForExit(std::chrono::milliseconds(INFINITE - 1));
    CloseHandle(handleOf(process_));
    outcome.exitCode = exitCode_;
    process_ = 0;
  }
  outcome.out = readWholeFile(outPath_);
  outcome.err = readWholeFile(errPath_);
  return outcome;
}

ProcessOutcome HostProcess::kill() {
  if (process_ != 0 && !exited_) {
    TerminateProcess(handleOf(process_), 1);
    waitForExit(std::chrono::milliseconds(INFINITE - 1));
    exitCode_ = -1;
  }
  return finish(0);
}

}  // namespace halvix::test
