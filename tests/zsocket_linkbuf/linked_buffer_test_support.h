#pragma once
// What the linked buffer's core tests share: a queue's contents and
// reproducible test bytes.
#include <string>

#include <gtest/gtest.h>

#include "modules/zsocket/linked_buffer.h"

namespace halvix::modules::zsocket {

inline std::string contents(const LinkedBuffer& b) {
  std::string s(b.length(), '\0');
  EXPECT_EQ(b.length(), b.peek(s.data(), s.size()));
  return s;
}

inline std::string pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t k = 0; k < n; ++k) s[k] = static_cast<char>((k * 131 + seed * 7 + (k >> 8)) & 0xff);
  return s;
}

}  // namespace halvix::modules::zsocket
