#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <link.h>

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

std::filesystem::path executablePath() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : path;
}

}  // namespace halvix::platform
