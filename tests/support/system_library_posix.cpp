#include "tests/support/system_library.h"

namespace halvix::test {

std::string SystemLibrary::missingFile(const std::string& what) const {
  return what + ": cannot open shared object file";
}

std::string SystemLibrary::missingSymbol(const std::string& library, const std::string& symbol) const {
  return library + ": undefined symbol: " + symbol;
}

const SystemLibrary& systemLibrary() {
  static const SystemLibrary library{"libc.so.6", "malloc", "libhalvix-absent.so"};
  return library;
}

}  // namespace halvix::test
