#include "chroma/vendor_name.h"

#include <algorithm>

namespace halvix::chroma {
namespace {

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool isVendorName(std::string_view name) {
  return std::equal(name.begin(), name.end(), kVendorSignerName.begin(), kVendorSignerName.end(),
                    [](char a, char b) { return asciiLower(a) == asciiLower(b); });
}

}  // namespace halvix::chroma
