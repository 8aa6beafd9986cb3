#include <gtest/gtest.h>

#include "sdk/plate_call_args.h"

namespace halvix::test {
namespace {

using sdk::PlateCallArgs;

template <typename... T>
std::string packArray(const T&... values) {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  packer.pack_array(sizeof...(values));
  (packer.pack(values), ...);
  return std::string(buffer.data(), buffer.size());
}

PlateCallArgs decode(const std::string& bytes, std::string* printed = nullptr) {
  testing::internal::CaptureStdout();
  PlateCallArgs args = PlateCallArgs::fromResults({bytes});
  std::string out = testing::internal::GetCapturedStdout();
  if (printed) *printed = out;
  return args;
}

TEST(PlateCallArgsTest, ArrayWithLeadingTrue) {
  std::string printed;
  PlateCallArgs args = decode(packArray(true, std::string("a"), 5u), &printed);
  EXPECT_EQ(printed, "resultHandler=[true,\"a\",5],7\n");
  ASSERT_TRUE(args.ok);
  ASSERT_EQ(args.args.size(), 2u);

  std::string text = "untouched";
  EXPECT_TRUE(args.get(0, text));
  EXPECT_EQ(text, "a");

  testing::internal::CaptureStdout();
  EXPECT_FALSE(args.get(1, text));
  EXPECT_FALSE(args.get(2, text));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "MsgPackAssemble::get[1] exception, type=2\n");
  EXPECT_EQ(text, "a");
}

TEST(PlateCallArgsTest, LeadingFalseOrOtherShapesGiveNothing) {
  for (const std::string& bytes : {packArray(false, std::string("reason")), packArray(1, 2), std::string("\xc3", 1),
                                   std::string("\xa3" "abc", 4), packArray()}) {
    PlateCallArgs args = decode(bytes);
    EXPECT_FALSE(args.ok);
    EXPECT_TRUE(args.args.empty());
  }
}

TEST(PlateCallArgsTest, MapAnswersArePlacedByIntegerKey) {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  packer.pack_map(2);
  packer.pack(1);
  packer.pack(true);
  packer.pack(3);
  packer.pack(std::string("x"));
  PlateCallArgs args = decode(std::string(buffer.data(), buffer.size()));
  ASSERT_TRUE(args.ok);
  ASSERT_EQ(args.args.size(), 2u);
  std::string text;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(args.get(0, text));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "MsgPackAssemble::get[0] exception, type=0\n");
  EXPECT_TRUE(args.get(1, text));
  EXPECT_EQ(text, "x");
}

TEST(PlateCallArgsTest, MapKeysOutsideTheSupportedRangeAreIgnored) {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  packer.pack_map(5);
  packer.pack(1);
  packer.pack(true);
  packer.pack(PlateCallArgs::kMaxMapKey + 1);  // would need a huge table
  packer.pack(1);
  packer.pack(0);
  packer.pack(2);
  packer.pack(-4);
  packer.pack(3);
  packer.pack(std::string("k"));
  packer.pack(4);
  PlateCallArgs args = decode(std::string(buffer.data(), buffer.size()));
  EXPECT_TRUE(args.ok);
  EXPECT_TRUE(args.args.empty());

  msgpack::sbuffer big;
  msgpack::packer<msgpack::sbuffer> bigPacker(big);
  bigPacker.pack_map(2);
  bigPacker.pack(1);
  bigPacker.pack(true);
  bigPacker.pack(PlateCallArgs::kMaxMapKey);
  bigPacker.pack(std::string("last"));
  PlateCallArgs spread = decode(std::string(big.data(), big.size()));
  ASSERT_EQ(spread.args.size(), PlateCallArgs::kMaxMapKey - 1);
  std::string text;
  EXPECT_TRUE(spread.get(PlateCallArgs::kMaxMapKey - 2, text));
  EXPECT_EQ(text, "last");
}

TEST(PlateCallArgsTest, EmptyArrayStandsForAnAbsentValue) {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  packer.pack_array(3);
  packer.pack(true);
  packer.pack_array(0);
  packer.pack_bin(2);
  packer.pack_bin_body("\x01\x02", 2);
  PlateCallArgs args = decode(std::string(buffer.data(), buffer.size()));
  bool flag = false;
  EXPECT_TRUE(args.get(0, flag));
  EXPECT_FALSE(flag);
  std::string text = "kept";
  EXPECT_TRUE(args.get(0, text));
  EXPECT_EQ(text, "kept");
  EXPECT_TRUE(args.get(1, text));
  EXPECT_EQ(text, std::string("\x01\x02", 2));
}

TEST(PlateCallArgsTest, BadBytesRaiseUnpackErrors) {
  EXPECT_THROW(PlateCallArgs::fromResults({std::string()}), msgpack::insufficient_bytes);
  EXPECT_THROW(PlateCallArgs::fromResults({std::string("\x93\x01", 2)}), msgpack::insufficient_bytes);
  EXPECT_THROW(PlateCallArgs::fromResults({std::string("\xc1", 1)}), msgpack::parse_error);
  EXPECT_THROW(PlateCallArgs::fromResults({}), msgpack::insufficient_bytes);
}

// A reused object must carry nothing over: each answer in turn, bad ones
// among them, reads as it would decoded fresh.
TEST(PlateCallArgsTest, ReusedObjectReadsEachAnswerAsAFreshOne) {
  msgpack::sbuffer map;
  msgpack::packer<msgpack::sbuffer> packer(map);
  packer.pack_map(2);
  packer.pack(1);
  packer.pack(true);
  packer.pack(3);
  packer.pack(std::string("m"));
  const std::string answers[] = {packArray(true, std::string(5000, 'x'), 7u), std::string(map.data(), map.size()),
                                 std::string("\x93\x01", 2), packArray(false, std::string("no")),
                                 packArray(true, std::string("a"))};
  PlateCallArgs reused;
  for (const std::string& bytes : answers) {
    testing::internal::CaptureStdout();
    bool threw = false;
    try {
      reused.decode(bytes);
    } catch (const msgpack::unpack_error&) {
      threw = true;
    }
    const std::string printed = testing::internal::GetCapturedStdout();
    if (threw) {
      EXPECT_THROW(PlateCallArgs::fromResults({bytes}), msgpack::unpack_error);
      continue;
    }
    std::string freshPrinted;
    PlateCallArgs fresh = decode(bytes, &freshPrinted);
    EXPECT_EQ(printed, freshPrinted);
    EXPECT_EQ(reused.ok, fresh.ok);
    EXPECT_EQ(reused.result, fresh.result);
    ASSERT_EQ(reused.args.size(), fresh.args.size());
    for (size_t i = 0; i < fresh.args.size(); ++i) EXPECT_EQ(reused.args[i], fresh.args[i]) << i;
  }
}

}  // namespace
}  // namespace halvix::test
