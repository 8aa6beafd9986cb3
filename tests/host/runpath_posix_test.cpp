// No built program may look for libraries in a folder named relative to
// where it is started from: an empty or relative run-path entry would load
// whatever library someone planted in the current folder.
#include <elf.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/host_process.h"

namespace {

namespace fs = std::filesystem;

// The run-path entries (DT_RUNPATH and DT_RPATH) of a 64-bit ELF file; none
// for a file that is not one.
std::optional<std::vector<std::string>> runPathEntries(const fs::path& file) {
  const std::string bytes = halvix::test::readWholeFile(file);
  Elf64_Ehdr header;
  if (bytes.size() < sizeof header || bytes.compare(0, SELFMAG, ELFMAG) != 0 || bytes[EI_CLASS] != ELFCLASS64)
    return std::nullopt;
  bytes.copy(reinterpret_cast<char*>(&header), sizeof header);
  auto section = [&](std::size_t index) {
    Elf64_Shdr entry{};
    const std::size_t at = header.e_shoff + index * sizeof entry;
    if (index < header.e_shnum && at + sizeof entry <= bytes.size())
      bytes.copy(reinterpret_cast<char*>(&entry), sizeof entry, at);
    return entry;
  };
  std::vector<std::string> entries;
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr dynamic = section(i);
    if (dynamic.sh_type != SHT_DYNAMIC) continue;
    const Elf64_Shdr strings = section(dynamic.sh_link);
    for (std::size_t at = dynamic.sh_offset; at + sizeof(Elf64_Dyn) <= dynamic.sh_offset + dynamic.sh_size;
         at += sizeof(Elf64_Dyn)) {
      Elf64_Dyn item;
      bytes.copy(reinterpret_cast<char*>(&item), sizeof item, at);
      if (item.d_tag != DT_RUNPATH && item.d_tag != DT_RPATH) continue;
      const std::string list = bytes.c_str() + strings.sh_offset + item.d_un.d_val;
      std::size_t start = 0;
      for (std::size_t end; (end = list.find(':', start)) != std::string::npos; start = end + 1)
        entries.push_back(list.substr(start, end - start));
      entries.push_back(list.substr(start));
    }
  }
  return entries;
}

TEST(BuiltPrograms, RunPathsNameNoFolderRelativeToTheCurrentOne) {
  int programs = 0;
  for (const auto& item : fs::directory_iterator(HALVIX_BIN_DIR)) {
    if (!item.is_regular_file()) continue;
    const std::optional<std::vector<std::string>> entries = runPathEntries(item.path());
    if (!entries) continue;
    ++programs;
    for (const std::string& entry : *entries) {
      EXPECT_TRUE(entry.starts_with('/') || entry.starts_with("$ORIGIN"))
          << item.path() << " has the run-path entry \"" << entry << "\"";
    }
  }
  EXPECT_GT(programs, 5) << "the built programs were not found";
}

}  // namespace
