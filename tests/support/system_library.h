#pragma once
// The system's own libraries and its loader's words, for tests of library
// loading that run on every system.
#include <string>

namespace halvix::test {

struct SystemLibrary {
  std::string name;         // loaded in every process
  std::string function;     // one of its exports
  std::string unknownName;  // a bare name no library has
  // The error text when `what`, a path or a bare name, names no library.
  std::string missingFile(const std::string& what) const;
  // The error text when the library at `library` lacks `symbol`.
  std::string missingSymbol(const std::string& library, const std::string& symbol) const;
};

const SystemLibrary& systemLibrary();

}  // namespace halvix::test
