// The one comparison both systems' signature checks make with the signer's
// name.
#include <gtest/gtest.h>

#include "chroma/vendor_name.h"

namespace halvix::test {
namespace {

TEST(VendorName, IsTheVendorsIgnoringOnlyAsciiLetterCase) {
  const struct {
    const char* name;
    std::string_view signer;
    bool vendor;
  } cases[] = {
      {"as written", "Razer USA Ltd.", true},
      {"other ASCII case", "rAZER usa LTD.", true},
      {"empty", "", false},
      {"prefix", "Razer USA Ltd", false},
      {"longer", "Razer USA Ltd.x", false},
      {"trailing space", "Razer USA Ltd. ", false},
      {"another name", "Halvix Test Lighting Ltd.", false},
      {"non-ASCII letter that folds to s", "Razer U\xC5\xBF" "A Ltd.", false},  // U+017F LONG S
      {"fullwidth letter", "\xEF\xBC\xB2" "azer USA Ltd.", false},              // U+FF32
      {"embedded NUL", std::string_view("Razer USA Ltd.\0", 15), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(chroma::isVendorName(c.signer), c.vendor);
  }
}

}  // namespace
}  // namespace halvix::test
