// Which bytes count as well-formed UTF-8, as the command line and the tools'
// JSON output read them.
#include "platform/utf8.h"

#include <string>

#include <gtest/gtest.h>

namespace halvix::test {
namespace {

TEST(Utf8, OnlyWellFormedSequencesCount) {
  const struct {
    const char* name;
    std::string bytes;
    std::size_t firstLength;  // of the sequence the bytes start with
    bool wellFormed;
  } cases[] = {
      {"empty", "", 0, true},
      {"ASCII", "--console", 1, true},
      {"two bytes", "\xC3\xA9t\xC3\xA9", 2, true},
      {"three bytes, U+FFFF", "\xEF\xBF\xBF", 3, true},
      {"four bytes, U+10FFFF", "\xF4\x8F\xBF\xBF", 4, true},
      {"overlong two", std::string("\xC0\x80", 2), 0, false},
      {"overlong two, highest", "\xC1\xBF", 0, false},
      {"overlong three", "\xE0\x9F\xBF", 0, false},
      {"overlong four", "\xF0\x8F\xBF\xBF", 0, false},
      {"high surrogate", "\xED\xA0\x80", 0, false},
      {"low surrogate", "\xED\xBF\xBF", 0, false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", 0, false},
      {"lead byte F5", "\xF5\x80\x80\x80", 0, false},
      {"truncated two", "\xC3", 0, false},
      {"truncated four", "\xF0\x9F\x98", 0, false},
      {"continuation alone", "\x80", 0, false},
      {"bad byte after a good start", "ok\xFF", 1, false},
      {"second byte not a continuation", "\xE2(\xA1", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.firstLength, platform::utf8SequenceLength(c.bytes));
    EXPECT_EQ(c.wellFormed, platform::isWellFormedUtf8(c.bytes));
  }
}

}  // namespace
}  // namespace halvix::test
