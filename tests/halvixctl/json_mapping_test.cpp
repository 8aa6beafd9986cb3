#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/flutter/standard_codec.h"
#include "tools/halvixctl/json_mapping.h"
#include "tools/json_text/json_text.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using halvix::ctl::jsonToValue;
using halvix::ctl::valueToJson;
using nlohmann::json;

TEST(JsonMapping, JsonToValue) {
  struct Case {
    const char* json;
    EncodableValue value;
  };
  const Case cases[] = {
      {"null", EncodableValue()},
      {"true", EncodableValue(true)},
      {"5", EncodableValue(int32_t{5})},
      {"-2147483648", EncodableValue(int32_t{-2147483647 - 1})},
      {"2147483647", EncodableValue(int32_t{2147483647})},
      {"2147483648", EncodableValue(int64_t{2147483648})},
      {"-2147483649", EncodableValue(int64_t{-2147483649})},
      {"9223372036854775807", EncodableValue(int64_t{9223372036854775807})},
      {"1.5", EncodableValue(1.5)},
      {"\"text\"", EncodableValue("text")},
      {"\"hex:\"", EncodableValue(std::vector<uint8_t>{})},
      {"\"hex:0aFF\"", EncodableValue(std::vector<uint8_t>{0x0a, 0xff})},
      {"[1,\"a\"]", EncodableValue(EncodableList{EncodableValue(int32_t{1}), EncodableValue("a")})},
      {"{\"k\":{\"n\":[]}}",
       EncodableValue(EncodableMap{{EncodableValue("k"), EncodableValue(EncodableMap{{EncodableValue("n"),
                                                                                     EncodableValue(EncodableList{})}})}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(jsonToValue(json::parse(c.json)), c.value);
  }
}

TEST(JsonMapping, RejectsWhatCannotBeMapped) {
  for (const char* text : {"\"hex:0\"", "\"hex:zz\"", "18446744073709551615", "[\"hex:123\"]"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(jsonToValue(json::parse(text)), halvix::ctl::JsonMappingError);
  }
}

// Arrays, or objects of one key, `levels` deep around `inner`.
std::string nested(int levels, const std::string& inner, bool objects) {
  std::string text;
  for (int i = 0; i < levels; ++i) text += objects ? "{\"k\":" : "[";
  text += inner;
  for (int i = 0; i < levels; ++i) text += objects ? "}" : "]";
  return text;
}

TEST(JsonMapping, RefusesNestingDeeperThanTheCodecDecodes) {
  const int limit = flutter::StandardCodecSerializer::kMaxNestingDepth;
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  struct Case {
    std::string text;
    bool accepted;
  };
  const Case cases[] = {
      {nested(limit, "1", false), true},        {nested(limit, "1", true), true},
      {nested(limit, "[]", false), true},      {nested(limit + 1, "[]", false), false},
      {nested(limit + 1, "1", false), false},
      {nested(limit + 1, "1", true), false},   {nested(20000, "", false), false},
      {nested(20000, "1", true), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40) + "... " + std::to_string(c.text.size()) + " chars");
    if (!c.accepted) {
      try {
        halvix::ctl::parseJson(c.text);
        ADD_FAILURE() << "accepted";
      } catch (const halvix::ctl::JsonMappingError& e) {
        EXPECT_STREQ(e.what(), "values nested deeper than 128 levels, the most the standard codec accepts");
      }
      continue;
    }
    // What is accepted, the engine's decoder takes too.
    flutter::MethodCall<EncodableValue> call("m", std::make_unique<EncodableValue>(jsonToValue(halvix::ctl::parseJson(c.text))));
    auto bytes = codec.EncodeMethodCall(call);
    auto decoded = codec.DecodeMethodCall(bytes->data(), bytes->size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded->arguments(), *call.arguments());
  }
}

TEST(JsonMapping, ValueToJson) {
  struct Case {
    EncodableValue value;
    const char* json;
  };
  const Case cases[] = {
      {EncodableValue(), "null"},
      {EncodableValue(false), "false"},
      {EncodableValue(int64_t{1} << 40), "1099511627776"},
      {EncodableValue(std::vector<uint8_t>{1, 0xab}), "\"hex:01ab\""},
      {EncodableValue(std::vector<int32_t>{1, -2}), "[1,-2]"},
      {EncodableValue(std::vector<double>{0.5}), "[0.5]"},
      {EncodableValue(EncodableList{EncodableValue(true), EncodableValue("")}), "[true,\"\"]"},
      {EncodableValue(EncodableMap{{EncodableValue(int32_t{1}), EncodableValue("x")},
                                   {EncodableValue("k"), EncodableValue()}}),
       "{\"1\":\"x\",\"k\":null}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(valueToJson(c.value).dump(), c.json);
  }
}

// Each byte outside a well-formed UTF-8 sequence is one \udcXX escape; all
// else reads as dump() writes it.
TEST(JsonMapping, JsonTextEscapesEachByteThatIsNotUtf8) {
  struct Case {
    std::string bytes;
    const char* text;
  };
  const Case cases[] = {
      {"plain \"q\" \x01", R"("plain \"q\" \u0001")"},
      {"\xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e", "\"\xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e\""},
      {"d\xe9" "sk", R"("d\udce9sk")"},
      {"\x80\xbf", R"("\udc80\udcbf")"},
      {"\xc0\xaf", R"("\udcc0\udcaf")"},                  // overlong
      {"\xe0\x9f\xbf", R"("\udce0\udc9f\udcbf")"},        // overlong
      {"\xed\xa0\x80", R"("\udced\udca0\udc80")"},        // a surrogate
      {"\xf4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")"},  // past U+10FFFF
      {"\xf5\xff", R"("\udcf5\udcff")"},
      {"\xe2\x82" "a\xe2\x82", R"("\udce2\udc82a\udce2\udc82")"},  // cut short
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(halvix::tools::jsonText(json(c.bytes)), c.text);
    EXPECT_EQ(halvix::tools::jsonText(json::array({json::object({{c.bytes, c.bytes}})})),
              std::string("[{") + c.text + ":" + c.text + "}]");
  }
}

}  // namespace
