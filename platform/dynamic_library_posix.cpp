#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/dynamic_library_common.h"

// Older C libraries lack the name; kernels before 6.3 refuse the flag.
#ifndef MFD_EXEC
#define MFD_EXEC 0x0010U
#endif

namespace halvix::platform {

namespace {

// memfd_create's longest name: NAME_MAX less its "memfd:" prefix.
constexpr std::size_t kMaxMemoryFileName = 249;
// Far more numbers than stale names any process gathers.
constexpr int kMaxNameAttempts = 64;

// dlerror's text for the failure that just happened, else `fallback`.
std::string failure(const std::string& fallback) {
  const char* text = ::dlerror();
  return text ? text : fallback;
}

// `what` and the system's text for errno.
std::string systemFailure(const std::string& what) {
  const int code = errno;
  return what + ": " + std::strerror(code);
}

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { reset(); }

  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  void reset() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }
  int fd_;
};

// A memory file holding `bytes`, sealed before anything maps it: no one,
// not even another process opening its /proc name for writing, can change
// what then loads. Named after the file it copies, which /proc/self/maps
// then shows.
Descriptor sealedCopy(const std::string& bytes, const std::string& name, std::string& error) {
  const std::string shown = name.size() > kMaxMemoryFileName ? name.substr(name.size() - kMaxMemoryFileName) : name;
  // Where the kernel knows MFD_EXEC it may make memory files without it
  // unmappable for execution.
  int fd = ::memfd_create(shown.c_str(), MFD_CLOEXEC | MFD_ALLOW_SEALING | MFD_EXEC);
  if (fd < 0 && errno == EINVAL) fd = ::memfd_create(shown.c_str(), MFD_CLOEXEC | MFD_ALLOW_SEALING);
  Descriptor file(fd);
  if (!file) {
    error = systemFailure(name + ": no memory file to load it from");
    return file;
  }
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(file.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = systemFailure(name + ": cannot be copied to memory");
      return Descriptor();
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fcntl(file.get(), F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
    error = systemFailure(name + ": its memory copy cannot be sealed");
    return Descriptor();
  }
  return file;
}

// Whether a loaded object answers to `name`, as dlopen matches objects by
// the name they were loaded under before it opens anything.
bool loadedUnder(const std::string& name) {
  void* handle = ::dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle) ::dlclose(handle);
  ::dlerror();
  return handle != nullptr;
}

// The /proc name of `file`, moved first to a descriptor number that no
// loaded object is named by. Libraries loaded by openFile hold their
// numbers while loaded; but one that stays resident after closing
// (RTLD_NODELETE, unique symbols), or one that other code loaded through a
// descriptor since closed, keeps its name once the number is free again,
// and dlopen would hand it back. The numbers passed over stay open until
// the file has its own, so that each move goes higher. Empty, with `error`
// set, when no such number is found.
std::string unusedName(Descriptor& file, std::string& error) {
  std::vector<Descriptor> passed;
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    std::string name = "/proc/self/fd/" + std::to_string(file.get());
    if (!loadedUnder(name)) return name;
    Descriptor higher(::fcntl(file.get(), F_DUPFD_CLOEXEC, file.get() + 1));
    if (!higher) {
      error = systemFailure("no descriptor to load the library through");
      return {};
    }
    passed.push_back(std::exchange(file, std::move(higher)));
  }
  error = "every descriptor tried names a library loaded already";
  return {};
}

}  // namespace

bool isBareLibraryName(const std::string& name) { return !name.empty() && name.find('/') == std::string::npos; }

void closeLibraryFile(std::intptr_t file) {
  if (file >= 0) ::close(static_cast<int>(file));
}

DynamicLibrary DynamicLibrary::open(const std::string& name) {
  DynamicLibrary library;
  if (!isBareLibraryName(name)) {
    library.error_ = "not a bare library name: \"" + name + "\"";
    return library;
  }
  // dlopen's own search does not look beside the executable; Windows does
  // so first, and the libraries shipped with the host live there.
  if (auto executable = executablePath(); !executable.empty()) {
    std::error_code ignored;
    auto beside = executable.parent_path() / name;
    if (std::filesystem::is_regular_file(beside, ignored)) return openPath(beside);
  }
  ::dlerror();
  library.handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library.handle_) library.error_ = failure(name + ": cannot be loaded");
  return library;
}

DynamicLibrary DynamicLibrary::openPath(const std::filesystem::path& path) {
  DynamicLibrary library;
  std::error_code error;
  // Absolute, so that dlopen never mistakes it for a name to search for.
  auto absolute = std::filesystem::absolute(path, error);
  if (error || path.empty()) {
    library.error_ = "not a usable library path: \"" + path.string() + "\"";
    return library;
  }
  ::dlerror();
  library.handle_ = ::dlopen(absolute.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library.handle_) library.error_ = failure(absolute.string() + ": cannot be loaded");
  return library;
}

DynamicLibrary DynamicLibrary::openFile(const LibraryFile& file) {
  DynamicLibrary library;
  if (file.bytes_.empty()) {
    library.error_ = "no library file was read";
    return library;
  }
  // Never the file itself, which its owner can rewrite in place after it
  // was read: the loader maps whatever it holds at that moment.
  const std::string shown = file.path_.string();
  Descriptor memory = sealedCopy(file.bytes_, shown, library.error_);
  if (!memory) return library;
  const std::string name = unusedName(memory, library.error_);
  if (name.empty()) return library;
  ::dlerror();
  library.handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library.handle_) {
    library.error_ = failure(shown + ": cannot be loaded");
    return library;
  }
  library.file_ = memory.release();
  return library;
}

void* DynamicLibrary::symbol(const char* name) {
  if (!handle_) {
    error_ = std::string("no library is open to look up ") + name;
    return nullptr;
  }
  ::dlerror();
  void* address = ::dlsym(handle_, name);
  error_ = address ? std::string() : failure(std::string("no symbol ") + name);
  return address;
}

std::filesystem::path DynamicLibrary::path() const {
  link_map* map = nullptr;
  if (!handle_ || ::dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
  return map->l_name;
}

void DynamicLibrary::close() {
  if (handle_) ::dlclose(std::exchange(handle_, nullptr));
  // Only now: while the library was loaded its name was this number.
  closeLibraryFile(std::exchange(file_, -1));
}

LibrarySearch LibrarySearch::ordinary(const std::filesystem::path& executableFolder, const char* libraryPath) {
  LibrarySearch search;
  if (!executableFolder.empty()) search.folders.push_back(executableFolder);
  // As the dynamic linker does, an empty value means no entries at all.
  if (libraryPath && *libraryPath) {
    std::string entries = libraryPath;
    std::size_t begin = 0;
    while (begin <= entries.size()) {
      std::size_t end = entries.find_first_of(":;", begin);
      if (end == std::string::npos) end = entries.size();
      const std::string entry = entries.substr(begin, end - begin);
      search.folders.emplace_back(entry.empty() ? "." : entry);
      begin = end + 1;
    }
  }
  // The folders the dynamic linker's cache covers on Debian x86-64, then its
  // built-in defaults.
  for (const char* folder : {"/usr/local/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu",
                             "/usr/local/lib", "/lib", "/usr/lib"})
    search.folders.emplace_back(folder);
  return search;
}

LibrarySearch LibrarySearch::forProcess() {
  return ordinary(executablePath().parent_path(), std::getenv("LD_LIBRARY_PATH"));
}

std::optional<LibraryFile> LibraryFile::read(const std::filesystem::path& path, std::size_t maxBytes) {
  // Read once and let go: what loads is a copy of these bytes.
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) > maxBytes)
    return std::nullopt;
  std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pread(fd.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    done += static_cast<std::size_t>(n);
  }
  // A file that grew while being read is not the file that was measured.
  char extra = 0;
  if (::pread(fd.get(), &extra, 1, static_cast<off_t>(done)) != 0) return std::nullopt;
  return LibraryFile(-1, path, std::move(bytes));
}

std::filesystem::path loadedLibraryPath(const std::string&) { return {}; }

std::filesystem::path executablePath() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : path;
}

}  // namespace halvix::platform
