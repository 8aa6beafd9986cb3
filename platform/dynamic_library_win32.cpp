// Libraries on Windows: LoadLibraryW, GetProcAddress, FreeLibrary and
// GetModuleFileNameW. Names and paths reach the wide calls as UTF-16; error
// texts come back from FormatMessageW as UTF-8.
#include "platform/dynamic_library.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <utility>

#include "platform/dynamic_library_common.h"
#include "platform/text_win32.h"

namespace halvix::platform {

namespace {

// "<what>: <the system's text for the error>". Callers take the error first,
// before building the text can touch the last-error value.
std::string failure(DWORD error, const std::string& what) { return what + ": " + systemMessage(error); }

// LoadLibraryW; on failure `error` says why, naming the library as `shown`.
void* load(const wchar_t* file, const std::string& shown, std::string& error) {
  HMODULE module = ::LoadLibraryW(file);
  if (const DWORD code = ::GetLastError(); !module) error = failure(code, shown + ": cannot be loaded");
  return module;
}

// A module's file name, the buffer grown until the name fits; empty on
// failure. Null names the executable.
std::wstring moduleFileName(HMODULE module) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return {};
    if (length < name.size()) {
      name.resize(length);
      return name;
    }
    // Cut short: the name filled the whole buffer.
    if (name.size() >= 32768) return {};
    name.resize(name.size() * 2);
  }
}

// The path a file handle reaches, in the ordinary drive-letter or UNC form.
std::wstring finalPath(HANDLE file) {
  const DWORD needed = ::GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (needed == 0) return {};
  std::wstring path(needed, L'\0');
  const DWORD length = ::GetFinalPathNameByHandleW(file, path.data(), needed, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= needed) return {};
  path.resize(length);
  if (path.rfind(LR"(\\?\UNC\)", 0) == 0) return LR"(\\)" + path.substr(8);
  if (path.rfind(LR"(\\?\)", 0) == 0 && path.size() < MAX_PATH + 4) return path.substr(4);
  return path;
}

HANDLE handleOf(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

bool isBareLibraryName(const std::string& name) {
  return !name.empty() && name.find_first_of("/\\:") == std::string::npos;
}

void closeLibraryFile(std::intptr_t file) {
  if (file != -1) ::CloseHandle(handleOf(file));
}

DynamicLibrary DynamicLibrary::open(const std::string& name) {
  DynamicLibrary library;
  if (!isBareLibraryName(name)) {
    library.error_ = "not a bare library name: \"" + name + "\"";
    return library;
  }
  // The system's own search, which starts in the executable's folder.
  library.handle_ = load(widen(name).c_str(), name, library.error_);
  return library;
}

DynamicLibrary DynamicLibrary::openPath(const std::filesystem::path& path) {
  DynamicLibrary library;
  std::error_code error;
  // Absolute, so that the loader never mistakes it for a name to search for.
  auto absolute = std::filesystem::absolute(path, error);
  if (error || path.empty()) {
    library.error_ = "not a usable library path: \"" + narrow(path.native()) + "\"";
    return library;
  }
  library.handle_ = load(absolute.c_str(), narrow(absolute.native()), library.error_);
  return library;
}

DynamicLibrary DynamicLibrary::openFile(const LibraryFile& file) {
  DynamicLibrary library;
  if (file.file_ == -1) {
    library.error_ = "no library file is open";
    return library;
  }
  // The handle refuses writing, deleting and renaming while it is open, so
  // the path it resolves to still names the file that was read.
  const std::wstring path = finalPath(handleOf(file.file_));
  if (const DWORD code = ::GetLastError(); path.empty()) {
    library.error_ = failure(code, "the library file's path cannot be told");
    return library;
  }
  library.handle_ = load(path.c_str(), narrow(path), library.error_);
  return library;
}

void* DynamicLibrary::symbol(const char* name) {
  if (!handle_) {
    error_ = std::string("no library is open to look up ") + name;
    return nullptr;
  }
  void* address = reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
  const DWORD code = ::GetLastError();
  error_ = address ? std::string() : failure(code, std::string("no symbol ") + name);
  return address;
}

std::filesystem::path DynamicLibrary::path() const {
  if (!handle_) return {};
  return moduleFileName(static_cast<HMODULE>(handle_));
}

void DynamicLibrary::close() {
  if (handle_) ::FreeLibrary(static_cast<HMODULE>(std::exchange(handle_, nullptr)));
  closeLibraryFile(std::exchange(file_, -1));
}

LibrarySearch LibrarySearch::ordinary(const std::filesystem::path& executableFolder, const char* libraryPath) {
  LibrarySearch search;
  if (!executableFolder.empty()) search.folders.push_back(executableFolder);
  wchar_t folder[MAX_PATH + 1];
  if (const UINT n = ::GetSystemDirectoryW(folder, MAX_PATH + 1); n > 0 && n <= MAX_PATH)
    search.folders.emplace_back(std::wstring(folder, n));
  if (const UINT n = ::GetWindowsDirectoryW(folder, MAX_PATH + 1); n > 0 && n <= MAX_PATH) {
    // The 16-bit system folder, which no function names, before the
    // Windows folder itself.
    const std::filesystem::path windows(std::wstring(folder, n));
    search.folders.push_back(windows / L"System");
    search.folders.push_back(windows);
  }
  search.folders.emplace_back(L".");
  const std::wstring entries = libraryPath ? widen(libraryPath) : std::wstring();
  for (std::size_t begin = 0; begin < entries.size();) {
    std::size_t end = entries.find(L';', begin);
    if (end == std::wstring::npos) end = entries.size();
    std::wstring entry = entries.substr(begin, end - begin);
    if (entry.size() >= 2 && entry.front() == L'"' && entry.back() == L'"') entry = entry.substr(1, entry.size() - 2);
    if (!entry.empty()) search.folders.emplace_back(entry);
    begin = end + 1;
  }
  return search;
}

LibrarySearch LibrarySearch::forProcess() {
  std::wstring value;
  if (const DWORD needed = ::GetEnvironmentVariableW(L"PATH", nullptr, 0); needed > 0) {
    value.resize(needed);
    const DWORD length = ::GetEnvironmentVariableW(L"PATH", value.data(), needed);
    value.resize(length < needed ? length : 0);
  }
  const std::string path = narrow(value);
  return ordinary(executablePath().parent_path(), path.c_str());
}

std::optional<LibraryFile> LibraryFile::read(const std::filesystem::path& path, std::size_t maxBytes) {
  // Shared for reading only: nobody may change, delete or rename the file
  // while this object holds it.
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  LibraryFile file(reinterpret_cast<std::intptr_t>(handle), path, std::string());
  LARGE_INTEGER size{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileSizeEx(handle, &size) || size.QuadPart < 0 ||
      static_cast<std::uint64_t>(size.QuadPart) > maxBytes)
    return std::nullopt;
  file.bytes_.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < file.bytes_.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(file.bytes_.size() - done, 1u << 30));
    DWORD n = 0;
    if (!::ReadFile(handle, file.bytes_.data() + done, chunk, &n, nullptr) || n == 0) return std::nullopt;
    done += n;
  }
  return file;
}

std::filesystem::path loadedLibraryPath(const std::string& name) {
  if (!isBareLibraryName(name)) return {};
  // Matched by base name, whichever folder the module came from; the
  // reference count is left alone.
  const HMODULE module = ::GetModuleHandleW(widen(name).c_str());
  return module ? std::filesystem::path(moduleFileName(module)) : std::filesystem::path();
}

std::filesystem::path executablePath() { return moduleFileName(nullptr); }

}  // namespace halvix::platform
