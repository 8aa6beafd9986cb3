// What halvix.exe shows of itself: the SDK plugin's registration entry as
// its one export, and no trace of the folder it was built in.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/host_process.h"

namespace {

const std::filesystem::path kHalvix = std::filesystem::path(HALVIX_BIN_DIR) / "halvix.exe";

TEST(HalvixExecutable, ExportsThePluginEntryAlone) {
  HMODULE image = LoadLibraryExW(kHalvix.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(image, nullptr);
  EXPECT_NE(GetProcAddress(image, "FlutterLibCorvelPluginRegisterWithRegistrar"), nullptr);
  EXPECT_EQ(GetProcAddress(image, "luaopen_lfs"), nullptr);
  FreeLibrary(image);
}

// The delay-load import's symbols are named after the import library's path
// as the linker was given it.
TEST(HalvixExecutable, HoldsNoPathOfTheBuildFolder) {
  std::string folder = std::filesystem::path(HALVIX_BIN_DIR).parent_path().generic_string();
  const std::string bytes = halvix::test::readWholeFile(kHalvix);
  std::string mangled = folder;
  std::replace_if(mangled.begin(), mangled.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  EXPECT_EQ(bytes.find(folder + "/host"), std::string::npos);
  EXPECT_EQ(bytes.find(mangled + "_host"), std::string::npos) << mangled;
}

}  // namespace
