#pragma once
// The engine library is not linked: the first engine call loads it. It ships
// beside the executable as "support.dat"; failing that, "flutter_windows.dll"
// is loaded by the ordinary library search.
#include <optional>
#include <string>

#include "platform/dynamic_library.h"

namespace halvix::host {

inline constexpr const char* kShippedEngineName = "support.dat";
inline constexpr const char* kEngineLibraryName = "flutter_windows.dll";
// The executable's path is read into a buffer of this many characters, as
// the original platform's module file name is.
inline constexpr std::size_t kModulePathBuffer = 260;

// "support.dat" in the folder of `executablePath`: the path up to and with
// its last '/', '\' or ':', then the name. Nothing when the result would not
// fit the buffer, since a cut path could name another file.
std::optional<std::string> shippedEnginePath(const std::string& executablePath);

// Loads the engine as the first engine call does: the shipped file beside
// the executable, else the ordinary search. A closed result says why, naming
// both files.
platform::DynamicLibrary loadEngineLibrary();

// Makes loadEngineLibrary the resolver of the client wrapper's engine table.
void installEngineLoading();

}  // namespace halvix::host
