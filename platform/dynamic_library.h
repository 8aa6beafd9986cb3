#pragma once
// Libraries loaded at run time: LoadLibrary, GetProcAddress, FreeLibrary and
// module file names on Windows; dlopen, dlsym, dlclose and dlinfo here. The
// engine library and the Chroma Connect library are both reached this way.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace halvix::platform {

// The folders the ordinary search for a bare library name looks in, in
// order. Explicit, so that a caller (or a test) can say where to look.
struct LibrarySearch {
  std::vector<std::filesystem::path> folders;

  // The executable's folder first (as on Windows), then each entry of the
  // library path (LD_LIBRARY_PATH's value, ':' or ';' separated, an empty
  // entry meaning the current folder), then the system's library folders.
  // On Windows, the order of LoadLibrary's own search: the executable's
  // folder, the system folder, the 16-bit system folder ("System" in the
  // Windows folder), the Windows folder, the current folder, then each entry
  // of the library path (PATH's value, ';' separated).
  static LibrarySearch ordinary(const std::filesystem::path& executableFolder, const char* libraryPath);
  // ordinary() for this process: its executable and its environment.
  static LibrarySearch forProcess();
};

// The first regular file named `name` in the search's folders, as an
// absolute, lexically normal path; empty when there is none. Nothing is
// loaded.
std::filesystem::path findLibrary(const std::string& name, const LibrarySearch& search);

// On Windows, the file of a module named `name` that the process has loaded
// already: loading that name hands back this module before any search.
// Empty when there is none, and always here, where a LibraryFile's bytes,
// never a name, are what loads.
std::filesystem::path loadedLibraryPath(const std::string& name);

// A library file read once, so that the file that was read is the file that
// runs, whatever its path names meanwhile. Here openFile loads a sealed
// in-memory copy of the bytes; on Windows the file is held open with
// writing, deleting and renaming refused until the object goes, and
// openFile loads the path that handle resolves to.
class LibraryFile {
 public:
  // Empty when the file cannot be opened or read, is not a regular file, or
  // is longer than `maxBytes`.
  static std::optional<LibraryFile> read(const std::filesystem::path& path, std::size_t maxBytes);
  LibraryFile(LibraryFile&& other) noexcept
      : file_(std::exchange(other.file_, -1)), path_(std::move(other.path_)), bytes_(std::move(other.bytes_)) {}
  LibraryFile& operator=(LibraryFile&& other) noexcept;
  ~LibraryFile();

  const std::filesystem::path& path() const { return path_; }
  const std::string& bytes() const { return bytes_; }

 private:
  friend class DynamicLibrary;
  LibraryFile(std::intptr_t file, std::filesystem::path path, std::string bytes)
      : file_(file), path_(std::move(path)), bytes_(std::move(bytes)) {}
  // The file held open: a HANDLE on Windows; -1 for none (always here).
  std::intptr_t file_;
  std::filesystem::path path_;
  std::string bytes_;
};

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

  // A bare file name (no '/', nor '\\' or ':' on Windows) through the
  // ordinary search, which, as on Windows, starts in the executable's folder.
  static DynamicLibrary open(const std::string& name);
  // Exactly the file at `path` (a relative path counts from the current folder).
  static DynamicLibrary openPath(const std::filesystem::path& path);
  // Loads the very bytes that `file` read. Each such load is a library of
  // its own, never one loaded before under the same name. Here its
  // dependencies come from the ordinary search and the libraries loaded
  // already, never from beside the file: $ORIGIN names /proc/self/fd.
  static DynamicLibrary openFile(const LibraryFile& file);
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

  // Full path of the file the system loaded ("/proc/self/fd/N" for one
  // loaded by openFile here); empty when closed.
  std::filesystem::path path() const;
  // Why the last open or lookup failed; empty after a success.
  const std::string& error() const { return error_; }

  void close();

 private:
  void* handle_ = nullptr;
  // Held while the library is loaded: the sealed memory file openFile
  // loaded here, whose descriptor number is the library's name; -1 for none
  // (always on Windows).
  std::intptr_t file_ = -1;
  std::string error_;
};

// Full path of the running executable (GetModuleFileNameW of the process's
// own module; /proc/self/exe here). Empty when the system cannot tell.
std::filesystem::path executablePath();

}  // namespace halvix::platform
