#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "platform/dynamic_library_common.h"

namespace halvix::platform {

namespace {

// dlerror's text for the failure that just happened, else `fallback`.
std::string failure(const std::string& fallback) {
  const char* text = ::dlerror();
  return text ? text : fallback;
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
  // The descriptor's own name in /proc reaches the file it has open, not
  // whatever its path names now.
  const std::string name = "/proc/self/fd/" + std::to_string(file.file_);
  ::dlerror();
  library.handle_ = file.file_ >= 0 ? ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
  if (!library.handle_) library.error_ = failure(name + ": cannot be loaded");
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
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  LibraryFile file(fd, std::string());
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) > maxBytes)
    return std::nullopt;
  file.bytes_.resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < file.bytes_.size()) {
    const ssize_t n = ::pread(fd, file.bytes_.data() + done, file.bytes_.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    done += static_cast<std::size_t>(n);
  }
  // A file that grew while being read is not the file that was measured.
  char extra = 0;
  if (::pread(fd, &extra, 1, static_cast<off_t>(done)) != 0) return std::nullopt;
  return file;
}

std::filesystem::path executablePath() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : path;
}

}  // namespace halvix::platform
