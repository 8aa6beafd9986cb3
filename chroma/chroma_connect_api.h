#pragma once
// Loads the Chroma Connect API library, but only a genuine one: the file
// that loading it by name would give (a module of that name already loaded
// on Windows, else the ordinary search's first find) must lie in one of two
// trusted folders and carry the vendor's signature. The file is read and
// checked before anything of it runs, and what loads is the bytes that were
// checked. Results are Windows system error values.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "chroma/chroma_connect_abi.h"
#include "chroma/signature_check.h"
#include "platform/dynamic_library.h"

namespace halvix::chroma {

// Result codes of Load and Register.
inline constexpr int kChromaSuccess = 0;
inline constexpr int kErrorInvalidFunction = 1;       // no Init export; the library stays loaded
inline constexpr int kErrorFileNotFound = 2;          // the library could not be found or loaded
inline constexpr int kErrorModNotFound = 126;         // nothing loaded, or no RegisterEventNotification
inline constexpr int kErrorInvalidDll = 1154;         // refused by the location or signature check
inline constexpr int kErrorAlreadyInitialized = 1247;  // a library is already loaded
inline constexpr int kErrorFunctionFailed = 1627;     // Init answered non-zero; the library stays loaded

// Everything the loader takes from its surroundings, so that a caller can
// name it instead of the process's own environment.
struct ChromaLoaderEnvironment {
  platform::LibrarySearch search;
  // Values of "SystemRoot" and "ProgramFiles"; an unset one names no folder.
  std::optional<std::string> systemRoot;
  std::optional<std::string> programFiles;
  TrustStore trust;
  // Run with the library's path once its file was read and accepted, just
  // before it is loaded: the moment a rewritten file would slip in.
  std::function<void(const std::filesystem::path&)> beforeLoad;

  static ChromaLoaderEnvironment forProcess();
};

// Whether `modulePath` is, as text and ignoring letter case,
// "<SystemRoot>\System32\<file>" or
// "<ProgramFiles>\Razer\ChromaBroadcast\bin\<file>", <file> being its own
// file name ("\" read as "/" here). The variables' values are taken as they
// are: one with "..", "." or a doubled or trailing separator names no
// trusted folder.
bool isTrustedLocation(const std::filesystem::path& modulePath, const ChromaLoaderEnvironment& environment);

class ChromaConnectApi {
 public:
  explicit ChromaConnectApi(ChromaLoaderEnvironment environment);
  ChromaConnectApi(const ChromaConnectApi&) = delete;
  ChromaConnectApi& operator=(const ChromaConnectApi&) = delete;

  int Load(const ChromaGuid& application);
  int Register(ChromaEventCallback callback);

  // Location and signature of the file at `path`, whose bytes are `file`.
  bool VerifyModule(const std::filesystem::path& path, std::string_view file) const;

  bool loaded() const { return module_.isOpen(); }

 private:
  ChromaLoaderEnvironment environment_;
  platform::DynamicLibrary module_;
};

// The process's one instance, for the process's environment. It is never
// destroyed: the library it loads stays loaded until the process ends.
ChromaConnectApi& processChromaConnectApi();

// The identifier this host passes to Init.
extern const ChromaGuid kHalvixApplicationId;

}  // namespace halvix::chroma
