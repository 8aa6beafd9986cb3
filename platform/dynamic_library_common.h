#pragma once
// What both targets' library loaders share; each target defines these two.
// Used only inside platform/.
#include <cstdint>
#include <string>

namespace halvix::platform {

// Whether `name` is a file name alone, with no folder (nor drive) in it.
bool isBareLibraryName(const std::string& name);
// Closes what a LibraryFile holds; -1 holds nothing.
void closeLibraryFile(std::intptr_t file);

}  // namespace halvix::platform
