#include "standins/chroma_connect/standin_module.h"

#include <windows.h>

#include <string>

namespace halvix::chroma::standin {
namespace {

HMODULE self(DWORD flags) {
  HMODULE module = nullptr;
  const auto address = reinterpret_cast<LPCWSTR>(&ownFile);
  return ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | flags, address, &module) ? module : nullptr;
}

}  // namespace

std::filesystem::path ownFile() {
  const HMODULE module = self(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
  if (!module) return {};
  std::wstring name(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
  if (length == 0 || length >= name.size()) return {};
  name.resize(length);
  return name;
}

void keepLoadedWhileThreadRuns() { self(GET_MODULE_HANDLE_EX_FLAG_PIN); }

}  // namespace halvix::chroma::standin
