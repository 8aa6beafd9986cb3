#pragma once
// A scratch directory removed with everything in it when the object goes.
#include <filesystem>
#include <string>

namespace halvix::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `content` to the file at `relative`, creating parent folders.
  std::filesystem::path write(const std::string& relative, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

}  // namespace halvix::test
