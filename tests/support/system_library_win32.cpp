#include "tests/support/system_library.h"

#include <windows.h>

#include "platform/text_win32.h"

namespace halvix::test {

std::string SystemLibrary::missingFile(const std::string& what) const {
  return what + ": cannot be loaded: " + platform::systemMessage(ERROR_MOD_NOT_FOUND);
}

std::string SystemLibrary::missingSymbol(const std::string&, const std::string& symbol) const {
  return "no symbol " + symbol + ": " + platform::systemMessage(ERROR_PROC_NOT_FOUND);
}

const SystemLibrary& systemLibrary() {
  static const SystemLibrary library{"kernel32.dll", "GetTickCount", "halvix-absent.dll"};
  return library;
}

}  // namespace halvix::test
