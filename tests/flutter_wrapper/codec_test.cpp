#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/flutter/method_result_functions.h"
#include "platform/flutter/standard_codec.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using Bytes = std::vector<uint8_t>;

Bytes encode(const EncodableValue& value) { return *flutter::StandardMessageCodec::GetInstance().EncodeMessage(value); }

std::unique_ptr<EncodableValue> decode(const Bytes& bytes, std::string* error = nullptr) {
  return flutter::StandardMessageCodec::GetInstance().DecodeMessage(bytes.data(), bytes.size(), error);
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}


struct Golden {
  const char* name;
  EncodableValue value;
  Bytes bytes;
};

TEST(StandardCodec, GoldenBytesForEveryType) {
  double pi = 3.14159;
  Bytes piBytes(8);
  std::memcpy(piBytes.data(), &pi, 8);
  float half = 0.5f;
  Bytes halfBytes(4);
  std::memcpy(halfBytes.data(), &half, 4);
  const Golden cases[] = {
      {"null", EncodableValue(), {0}},
      {"true", EncodableValue(true), {1}},
      {"false", EncodableValue(false), {2}},
      {"int32", EncodableValue(int32_t{-2}), {3, 0xfe, 0xff, 0xff, 0xff}},
      {"int64 small", EncodableValue(int64_t{1}), {4, 1, 0, 0, 0, 0, 0, 0, 0}},
      {"int64", EncodableValue(int64_t{0x0102030405060708}), {4, 8, 7, 6, 5, 4, 3, 2, 1}},
      {"float64 padded", EncodableValue(pi), cat({{6, 0, 0, 0, 0, 0, 0, 0}, piBytes})},
      {"string", EncodableValue("hi"), {7, 2, 'h', 'i'}},
      {"empty string", EncodableValue(""), {7, 0}},
      {"uint8list", EncodableValue(Bytes{1, 2, 3}), {8, 3, 1, 2, 3}},
      {"int32list", EncodableValue(std::vector<int32_t>{1, -1}), {9, 2, 0, 0, 1, 0, 0, 0, 0xff, 0xff, 0xff, 0xff}},
      {"int64list", EncodableValue(std::vector<int64_t>{2}), {10, 1, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}},
      {"float64list", EncodableValue(std::vector<double>{pi}), cat({{11, 1, 0, 0, 0, 0, 0, 0}, piBytes})},
      {"float32list", EncodableValue(std::vector<float>{half}), cat({{14, 1, 0, 0}, halfBytes})},
      {"empty int32list pads", EncodableValue(std::vector<int32_t>{}), {9, 0, 0, 0}},
      {"empty int64list pads", EncodableValue(std::vector<int64_t>{}), {10, 0, 0, 0, 0, 0, 0, 0}},
      {"empty float64list pads", EncodableValue(std::vector<double>{}), {11, 0, 0, 0, 0, 0, 0, 0}},
      {"empty float32list pads", EncodableValue(std::vector<float>{}), {14, 0, 0, 0}},
      {"list", EncodableValue(EncodableList{EncodableValue(true), EncodableValue()}), {12, 2, 1, 0}},
      {"map", EncodableValue(EncodableMap{{EncodableValue("a"), EncodableValue(int32_t{1})}}),
       {13, 1, 7, 1, 'a', 3, 1, 0, 0, 0}},
      // Alignment counts from the start of the whole message, not the value.
      {"float64 inside list", EncodableValue(EncodableList{EncodableValue(pi)}),
       cat({{12, 1, 6, 0, 0, 0, 0, 0}, piBytes})},
      {"float64 after string", EncodableValue(EncodableList{EncodableValue("abcdefg"), EncodableValue(pi)}),
       cat({{12, 2, 7, 7, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 6, 0, 0, 0, 0}, piBytes})},
      {"int32list inside list", EncodableValue(EncodableList{EncodableValue(std::vector<int32_t>{7})}),
       {12, 1, 9, 1, 7, 0, 0, 0}},
      {"empty int64list inside list", EncodableValue(EncodableList{EncodableValue(std::vector<int64_t>{})}),
       {12, 1, 10, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(encode(c.value), c.bytes);
    auto back = decode(c.bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, c.value);
  }
}

TEST(StandardCodec, SizeEncodingAtItsEdges) {
  struct Edge {
    size_t size;
    Bytes header;
  };
  const Edge edges[] = {
      {0, {7, 0}},
      {253, {7, 253}},
      {254, {7, 254, 254, 0}},
      {255, {7, 254, 255, 0}},
      {65535, {7, 254, 0xff, 0xff}},
      {65536, {7, 255, 0, 0, 1, 0}},
  };
  for (const auto& e : edges) {
    SCOPED_TRACE(e.size);
    std::string text(e.size, 'x');
    Bytes bytes = encode(EncodableValue(text));
    ASSERT_EQ(bytes.size(), e.header.size() + e.size);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(e.header.size())), e.header);
    auto back = decode(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::get<std::string>(*back), text);
    // The same sizes for a list count elements, not bytes.
    Bytes list = encode(EncodableValue(EncodableList(e.size, EncodableValue())));
    EXPECT_EQ(list[0], 12);
    EXPECT_EQ(Bytes(list.begin() + 1, list.begin() + static_cast<std::ptrdiff_t>(e.header.size())),
              Bytes(e.header.begin() + 1, e.header.end()));
  }
}

TEST(StandardCodec, LargeIntIsReadAsItsString) {
  auto value = decode({5, 3, '1', '2', '3'});
  ASSERT_TRUE(value);
  EXPECT_EQ(std::get<std::string>(*value), "123");
}

TEST(StandardCodec, NestedRoundTrip) {
  EncodableValue value(EncodableMap{
      {EncodableValue("list"), EncodableValue(EncodableList{EncodableValue(int64_t{1} << 40), EncodableValue(2.5),
                                                            EncodableValue(std::vector<float>{1.f, 2.f, 3.f})})},
      {EncodableValue(int32_t{7}), EncodableValue(EncodableMap{{EncodableValue(), EncodableValue(Bytes{0, 0})}})},
  });
  auto back = decode(encode(value));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, value);
}

TEST(StandardCodec, BadInputIsAnErrorNeverAnOverRead) {
  struct Bad {
    const char* name;
    Bytes bytes;
  };
  const Bad cases[] = {
      {"empty", {}},
      {"unknown tag", {15}},
      {"tag 255", {255}},
      {"int32 cut", {3, 1, 2}},
      {"int64 cut", {4, 1, 2, 3, 4, 5, 6, 7}},
      {"float64 padding missing", {6, 0, 0}},
      {"string past end", {7, 5, 'a'}},
      {"16-bit size cut", {7, 254, 1}},
      {"32-bit size past end", {8, 255, 0xff, 0xff, 0xff, 0xff, 1}},
      {"int32list past end", {9, 2, 0, 0, 1, 0, 0, 0}},
      {"huge int64list", {10, 255, 0xff, 0xff, 0xff, 0x1f, 0, 0, 0}},
      {"list count past end", {12, 3, 0, 0}},
      {"huge list count", {12, 255, 0xff, 0xff, 0xff, 0xff}},
      {"map missing value", {13, 1, 0}},
      {"trailing bytes", {0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_FALSE(decode(c.bytes, &error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(StandardCodec, EveryTruncationOfAValidMessageFails) {
  Bytes full = encode(EncodableValue(EncodableList{
      EncodableValue("name"), EncodableValue(1.5), EncodableValue(std::vector<int64_t>{1, 2}),
      EncodableValue(EncodableMap{{EncodableValue("k"), EncodableValue(Bytes{9})}})}));
  for (size_t n = 0; n < full.size(); ++n) {
    // A copy of exactly n bytes, so that ASan sees any read past it.
    Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(decode(prefix)) << n;
  }
  EXPECT_TRUE(decode(full));
}

TEST(StandardCodec, NestingDepthIsCapped) {
  const int limit = flutter::StandardCodecSerializer::kMaxNestingDepth;
  auto nested = [](int depth) {
    Bytes bytes;
    for (int i = 0; i < depth; ++i) bytes.insert(bytes.end(), {12, 1});
    bytes.push_back(0);
    return bytes;
  };
  EXPECT_TRUE(decode(nested(limit)));
  std::string error;
  EXPECT_FALSE(decode(nested(limit + 1), &error));
  EXPECT_NE(error.find("deep"), std::string::npos);
  EXPECT_FALSE(decode(nested(100000)));
}

TEST(StandardMethodCodec, MethodCallBytes) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  flutter::MethodCall<EncodableValue> noArgs("m", nullptr);
  EXPECT_EQ(*codec.EncodeMethodCall(noArgs), (Bytes{7, 1, 'm', 0}));
  flutter::MethodCall<EncodableValue> withArgs("go", std::make_unique<EncodableValue>(int32_t{5}));
  Bytes bytes = *codec.EncodeMethodCall(withArgs);
  EXPECT_EQ(bytes, (Bytes{7, 2, 'g', 'o', 3, 5, 0, 0, 0}));

  auto call = codec.DecodeMethodCall(bytes.data(), bytes.size());
  ASSERT_TRUE(call);
  EXPECT_EQ(call->method_name(), "go");
  ASSERT_TRUE(call->arguments());
  EXPECT_EQ(std::get<int32_t>(*call->arguments()), 5);

  const Bytes bad[] = {{}, {7, 2, 'g', 'o'}, {3, 1, 0, 0, 0, 0}, {7, 1, 'm', 0, 0}, {7, 5, 'm'}};
  for (const auto& b : bad) EXPECT_FALSE(codec.DecodeMethodCall(b.data(), b.size()));
}

TEST(StandardMethodCodec, EnvelopeBytes) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  EXPECT_EQ(*codec.EncodeSuccessEnvelope(), (Bytes{0, 0}));
  EncodableValue one(int32_t{1});
  EXPECT_EQ(*codec.EncodeSuccessEnvelope(&one), (Bytes{0, 3, 1, 0, 0, 0}));
  EXPECT_EQ(*codec.EncodeErrorEnvelope("E"), (Bytes{1, 7, 1, 'E', 0, 0}));
  EncodableValue details(true);
  EXPECT_EQ(*codec.EncodeErrorEnvelope("E", "m", &details), (Bytes{1, 7, 1, 'E', 7, 1, 'm', 1}));
  // A float after the envelope byte aligns against the whole reply.
  EncodableValue f(1.0);
  Bytes fb = *codec.EncodeSuccessEnvelope(&f);
  ASSERT_EQ(fb.size(), 16u);
  EXPECT_EQ(Bytes(fb.begin(), fb.begin() + 8), (Bytes{0, 6, 0, 0, 0, 0, 0, 0}));
}

TEST(StandardMethodCodec, ResponseEnvelopesReachTheResult) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  std::string seen;
  flutter::MethodResultFunctions<EncodableValue> result(
      [&](const EncodableValue* v) { seen = "ok:" + std::to_string(v && std::holds_alternative<int32_t>(*v)); },
      [&](const std::string& code, const std::string& message, const EncodableValue* details) {
        seen = "error:" + code + ":" + message + ":" + std::to_string(details && details->IsNull());
      },
      [&] { seen = "notimpl"; });
  struct Case {
    Bytes bytes;
    bool ok;
    const char* seen;
  };
  const Case cases[] = {
      {{}, true, "notimpl"},
      {{0, 3, 1, 0, 0, 0}, true, "ok:1"},
      {{1, 7, 1, 'E', 0, 0}, true, "error:E::1"},
      {{1, 7, 1, 'E', 7, 1, 'm', 0}, true, "error:E:m:1"},
      {{2}, false, ""},
      {{0}, false, ""},
      {{0, 0, 0}, false, ""},
      {{1, 3, 1, 0, 0, 0, 0, 0}, false, ""},
      {{1, 7, 1, 'E', 3, 1, 0, 0, 0, 0}, false, ""},
  };
  for (const auto& c : cases) {
    seen.clear();
    EXPECT_EQ(codec.DecodeAndProcessResponseEnvelope(c.bytes.data(), c.bytes.size(), &result), c.ok);
    EXPECT_EQ(seen, c.seen);
  }
}

TEST(EncodableValue, ExplicitConstructionAndHelpers) {
  static_assert(!std::is_convertible_v<const char*, EncodableValue>);
  static_assert(!std::is_convertible_v<int*, EncodableValue>);
  EXPECT_TRUE(EncodableValue().IsNull());
  EXPECT_EQ(EncodableValue(int32_t{-3}).LongValue(), -3);
  EXPECT_EQ(EncodableValue(int64_t{1} << 40).LongValue(), int64_t{1} << 40);
  EXPECT_TRUE(EncodableValue(int32_t{1}) < EncodableValue(int64_t{0}));  // ordered by type first
  EXPECT_NE(EncodableValue(int32_t{1}), EncodableValue(int64_t{1}));
}

}  // namespace
