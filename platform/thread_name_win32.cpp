#include "platform/thread_name.h"

#include <windows.h>

#include "platform/text_win32.h"

namespace halvix::platform {

namespace {

using SetThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PCWSTR);

}  // namespace

void nameCurrentThread(const char* name) {
  // Windows 10 1607 and later; looked up so that older systems still start.
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto describe = kernel ? reinterpret_cast<SetThreadDescriptionFunction>(
                                     reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")))
                               : nullptr;
  if (describe) describe(GetCurrentThread(), widen(name).c_str());
}

}  // namespace halvix::platform
