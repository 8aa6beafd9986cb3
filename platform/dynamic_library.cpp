#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace halvix::platform {

namespace {

// dlerror's text for the failure that just happened, else `fallback`.
std::string failure(const std::string& fallback) {
  const char* text = ::dlerror();
  return text ? text : fallback;
}

}  // namespace

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

DynamicLibrary DynamicLibrary::open(const std::string& name) {
  DynamicLibrary library;
  if (name.empty() || name.find('/') != std::string::npos) {
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
}

std::optional<FileIdentity> DynamicLibrary::fileIdentity() const {
  link_map* map = nullptr;
  if (!handle_ || ::dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_ld) return std::nullopt;
  // The dynamic section lies in one of the library's own file mappings, and
  // the mapping names the device and inode the system actually mapped.
  const auto inside = reinterpret_cast<std::uintptr_t>(map->l_ld);
  std::FILE* maps = std::fopen("/proc/self/maps", "re");
  if (!maps) return std::nullopt;
  std::optional<FileIdentity> identity;
  char line[4096];
  while (std::fgets(line, sizeof line, maps)) {
    std::uintptr_t start = 0, end = 0;
    unsigned major = 0, minor = 0;
    std::uint64_t inode = 0;
    if (std::sscanf(line, "%" SCNxPTR "-%" SCNxPTR " %*s %*s %x:%x %" SCNu64, &start, &end, &major, &minor,
                    &inode) == 5 &&
        start <= inside && inside < end) {
      if (inode != 0) identity = FileIdentity{::makedev(major, minor), inode};
      break;
    }
  }
  std::fclose(maps);
  return identity;
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

std::filesystem::path findLibrary(const std::string& name, const LibrarySearch& search) {
  if (name.empty() || name.find('/') != std::string::npos) return {};
  for (const auto& folder : search.folders) {
    std::error_code error;
    const auto candidate = std::filesystem::absolute(folder / name, error).lexically_normal();
    if (!error && std::filesystem::is_regular_file(candidate, error)) return candidate;
  }
  return {};
}

std::optional<IdentifiedFile> readIdentifiedFile(const std::filesystem::path& path, std::size_t maxBytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<IdentifiedFile> file;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) <= maxBytes) {
    IdentifiedFile read;
    read.identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    read.bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    bool failed = false;
    while (done < read.bytes.size()) {
      const ssize_t n = ::read(fd, read.bytes.data() + done, read.bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed = true;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    // A file that grew while being read is not the file that was measured.
    char extra = 0;
    if (!failed && ::read(fd, &extra, 1) == 0) file = std::move(read);
  }
  ::close(fd);
  return file;
}

std::filesystem::path executablePath() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : path;
}

}  // namespace halvix::platform
