#include "platform/dynamic_library_common.h"

#include <system_error>
#include <utility>

#include "platform/dynamic_library.h"

namespace halvix::platform {

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      file_(std::exchange(other.file_, -1)),
      error_(std::move(other.error_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
    file_ = std::exchange(other.file_, -1);
    error_ = std::move(other.error_);
  }
  return *this;
}

std::filesystem::path findLibrary(const std::string& name, const LibrarySearch& search) {
  if (!isBareLibraryName(name)) return {};
  // The name is UTF-8 on every target.
  const std::filesystem::path file(std::u8string(name.begin(), name.end()));
  for (const auto& folder : search.folders) {
    std::error_code error;
    const auto candidate = std::filesystem::absolute(folder / file, error).lexically_normal();
    if (!error && std::filesystem::is_regular_file(candidate, error)) return candidate;
  }
  return {};
}

LibraryFile& LibraryFile::operator=(LibraryFile&& other) noexcept {
  if (this != &other) {
    closeLibraryFile(file_);
    file_ = std::exchange(other.file_, -1);
    path_ = std::move(other.path_);
    bytes_ = std::move(other.bytes_);
  }
  return *this;
}

LibraryFile::~LibraryFile() { closeLibraryFile(file_); }

}  // namespace halvix::platform
