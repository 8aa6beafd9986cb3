#include <gtest/gtest.h>

#include "tools/halvixctl/json_mapping.h"

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

}  // namespace
