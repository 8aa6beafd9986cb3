#include "chroma/chroma_connect_api.h"

#include <algorithm>
#include <cstdlib>

namespace halvix::chroma {
namespace {

// A module path longer than this is refused, as the system's module file
// name would have been cut there.
constexpr std::size_t kMaxModulePath = 260;
// No genuine library comes near this; reading stops well before memory does.
constexpr std::size_t kMaxLibraryBytes = std::size_t{256} << 20;

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

// Plain text, never normalised: the system's module path is already in its
// one canonical form, and a folder value that differs from it only until
// normalised does not name the trusted folder.
std::filesystem::path::string_type candidate(const std::string& root, const char* folder,
                                             const std::filesystem::path& fileName) {
  std::string text = root + folder;
#ifndef _WIN32
  std::replace(text.begin(), text.end(), '\\', '/');
#endif
  return std::filesystem::path(text).native() + fileName.native();
}

template <typename Char>
Char asciiLower(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

// Compared in the system's own path characters (UTF-16 on Windows), letter
// case of A to Z ignored.
bool samePathIgnoringCase(const std::filesystem::path& path, const std::filesystem::path::string_type& text) {
  const auto& x = path.native();
  return std::equal(x.begin(), x.end(), text.begin(), text.end(),
                    [](auto c, auto d) { return asciiLower(c) == asciiLower(d); });
}

}  // namespace

const ChromaGuid kHalvixApplicationId = {0x5b0c3f21, 0x8d4e, 0x4a71, {0x9e, 0x26, 0x41, 0xc7, 0x0b, 0x5d, 0xe3, 0x88}};

ChromaLoaderEnvironment ChromaLoaderEnvironment::forProcess() {
  return {platform::LibrarySearch::forProcess(), environmentValue("SystemRoot"), environmentValue("ProgramFiles"), {},
          {}};
}

bool isTrustedLocation(const std::filesystem::path& modulePath, const ChromaLoaderEnvironment& environment) {
  const std::filesystem::path fileName = modulePath.filename();
  if (fileName.empty()) return false;
  if (environment.systemRoot &&
      samePathIgnoringCase(modulePath, candidate(*environment.systemRoot, "\\System32\\", fileName)))
    return true;
  return environment.programFiles &&
         samePathIgnoringCase(modulePath,
                              candidate(*environment.programFiles, "\\Razer\\ChromaBroadcast\\bin\\", fileName));
}

ChromaConnectApi::ChromaConnectApi(ChromaLoaderEnvironment environment) : environment_(std::move(environment)) {}

bool ChromaConnectApi::VerifyModule(const std::filesystem::path& path, std::string_view file) const {
  if (path.empty() || path.native().size() > kMaxModulePath || !isTrustedLocation(path, environment_)) return false;
  return hasVendorSignature(path, file, environment_.trust);
}

int ChromaConnectApi::Load(const ChromaGuid& application) {
  if (module_.isOpen()) return kErrorAlreadyInitialized;
  // Loading by the bare name hands back a module of that name already
  // loaded, before any search: that module's file is the one to check.
  std::filesystem::path path = platform::loadedLibraryPath(kChromaConnectLibraryName);
  if (path.empty()) path = platform::findLibrary(kChromaConnectLibraryName, environment_.search);
  if (path.empty()) return kErrorFileNotFound;
  // Checked before any of its code can run (loading runs its initialisers).
  const std::optional<platform::LibraryFile> file = platform::LibraryFile::read(path, kMaxLibraryBytes);
  if (!file) return kErrorFileNotFound;
  if (!VerifyModule(path, file->bytes())) return kErrorInvalidDll;
  if (environment_.beforeLoad) environment_.beforeLoad(path);

  // The bytes that were checked, whatever the path names by now.
  platform::DynamicLibrary library = platform::DynamicLibrary::openFile(*file);
  if (!library) return kErrorFileNotFound;
  module_ = std::move(library);

  const auto init = module_.function<ChromaInitFunction>("Init");
  if (!init) return kErrorInvalidFunction;
  const ChromaGuid copy = application;
  return init(copy) == 0 ? kChromaSuccess : kErrorFunctionFailed;
}

int ChromaConnectApi::Register(ChromaEventCallback callback) {
  if (!module_.isOpen()) return kErrorModNotFound;
  const auto registerCallback = module_.function<ChromaRegisterFunction>("RegisterEventNotification");
  if (!registerCallback) return kErrorModNotFound;
  registerCallback(callback);
  return kChromaSuccess;
}

ChromaConnectApi& processChromaConnectApi() {
  static ChromaConnectApi* const api = new ChromaConnectApi(ChromaLoaderEnvironment::forProcess());
  return *api;
}

}  // namespace halvix::chroma
