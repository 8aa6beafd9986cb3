#include "tests/support/temp_dir.h"

#include "platform/temporary_directory.h"

#include <fstream>
#include <stdexcept>

namespace halvix::test {

TempDir::TempDir() {
  path_ = platform::makeTemporaryDirectory("halvix-test-");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(const std::string& relative, const std::string& content) const {
  std::filesystem::path file = path_ / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

}  // namespace halvix::test
