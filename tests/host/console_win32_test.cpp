// The host's console when started from the desktop: nothing to attach to,
// so a console is created and the console output shows on it.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/host_process.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(Console, WithNoConsoleToAttachToOneIsCreatedAndShowsTheOutput) {
  halvix::test::TempDir dir;
  const std::filesystem::path report = dir.path() / "report.txt";
  const std::string probe = std::string(HALVIX_BIN_DIR) + "/console_probe.exe";
  ASSERT_EQ(halvix::test::runToEnd({probe, "--detached", report.string()}), 0);
  EXPECT_EQ(halvix::test::readWholeFile(report), "created shown");
}

}  // namespace
