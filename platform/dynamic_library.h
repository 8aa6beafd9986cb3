#pragma once
// Libraries loaded at run time: LoadLibrary, GetProcAddress, FreeLibrary and
// module file names on Windows; dlopen, dlsym, dlclose and dlinfo here. The
// engine library and the Chroma Connect library are both reached this way.
#include <filesystem>
#include <string>
#include <utility>

namespace halvix::platform {

// One loaded library; closing (or destroying) the object releases it.
// Failures never throw: the object stays closed, or the lookup gives null,
// and error() says what went wrong.
class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary() { close(); }
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // A bare file name through the ordinary search, which, as on Windows,
  // starts in the executable's folder.
  static DynamicLibrary open(const std::string& name);
  // Exactly the file at `path` (a relative path counts from the current folder).
  static DynamicLibrary openPath(const std::filesystem::path& path);
  // A closed library whose error() is `reason`: for loaders that tried
  // several files and report them together.
  static DynamicLibrary failed(std::string reason) {
    DynamicLibrary library;
    library.error_ = std::move(reason);
    return library;
  }

  bool isOpen() const { return handle_ != nullptr; }
  explicit operator bool() const { return isOpen(); }

  // The exported symbol's address, or null (error() then names it).
  void* symbol(const char* name);
  template <typename Function>
  Function function(const char* name) {
    return reinterpret_cast<Function>(symbol(name));
  }

  // Full path of the file the system loaded; empty when closed.
  std::filesystem::path path() const;
  // Why the last open or lookup failed; empty after a success.
  const std::string& error() const { return error_; }

  void close();

 private:
  void* handle_ = nullptr;
  std::string error_;
};

// Full path of the running executable (GetModuleFileName of the process's
// own module; /proc/self/exe here). Empty when the system cannot tell.
std::filesystem::path executablePath();

}  // namespace halvix::platform
