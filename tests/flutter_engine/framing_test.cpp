#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "standins/flutter_engine/messenger_framing.h"

namespace {

using halvix::flutter_engine::FrameKind;
using halvix::flutter_engine::FrameReader;
using Bytes = std::vector<uint8_t>;

TEST(MessengerFraming, GoldenBytes) {
  Bytes payload{9, 8};
  EXPECT_EQ(halvix::flutter_engine::encodeMessageFrame(0x01020304, "ab", payload.data(), payload.size()),
            (Bytes{11, 0, 0, 0, 1, 4, 3, 2, 1, 2, 0, 'a', 'b', 9, 8}));
  EXPECT_EQ(halvix::flutter_engine::encodeReplyFrame(7, nullptr, 0), (Bytes{5, 0, 0, 0, 2, 7, 0, 0, 0}));
  EXPECT_THROW(halvix::flutter_engine::encodeMessageFrame(1, "", nullptr, 0), std::length_error);
}

TEST(MessengerFraming, ReaderReassemblesFramesFedByteByByte) {
  Bytes p1{1, 2, 3};
  Bytes stream = halvix::flutter_engine::encodeMessageFrame(5, "chan", p1.data(), p1.size());
  Bytes second = halvix::flutter_engine::encodeReplyFrame(6, nullptr, 0);
  stream.insert(stream.end(), second.begin(), second.end());
  FrameReader reader;
  std::vector<halvix::flutter_engine::Frame> frames;
  for (uint8_t b : stream) {
    reader.feed(&b, 1);
    while (auto f = reader.next()) frames.push_back(*f);
  }
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].kind, FrameKind::kMessage);
  EXPECT_EQ(frames[0].id, 5u);
  EXPECT_EQ(frames[0].channel, "chan");
  EXPECT_EQ(frames[0].payload, p1);
  EXPECT_EQ(frames[1].kind, FrameKind::kReply);
  EXPECT_EQ(frames[1].id, 6u);
  EXPECT_TRUE(frames[1].payload.empty());
  EXPECT_FALSE(reader.failed());
  EXPECT_EQ(reader.pending(), 0u);
}

TEST(MessengerFraming, ProtocolErrorsFailTheReaderForGood) {
  struct Bad {
    const char* name;
    Bytes bytes;
  };
  const Bad cases[] = {
      {"zero length", {0, 0, 0, 0}},
      {"length over the limit", {1, 0, 0, 4}},
      {"body too short", {3, 0, 0, 0, 1, 0, 0}},
      {"unknown kind", {5, 0, 0, 0, 3, 0, 0, 0, 0}},
      {"empty channel name", {7, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}},
      {"channel name past the body", {8, 0, 0, 0, 1, 0, 0, 0, 0, 5, 0, 'a'}},
      {"message without name length", {6, 0, 0, 0, 1, 0, 0, 0, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FrameReader reader;
    reader.feed(c.bytes.data(), c.bytes.size());
    EXPECT_FALSE(reader.next());
    EXPECT_TRUE(reader.failed());
    Bytes good = halvix::flutter_engine::encodeReplyFrame(1, nullptr, 0);
    reader.feed(good.data(), good.size());
    EXPECT_FALSE(reader.next());
  }
}

TEST(MessengerFraming, ReaderTakesNoBodyBeforeItsFrameIsAdmitted) {
  Bytes first = halvix::flutter_engine::encodeReplyFrame(1, nullptr, 0);
  Bytes stream = first;
  Bytes second = halvix::flutter_engine::encodeReplyFrame(2, nullptr, 0);
  stream.insert(stream.end(), second.begin(), second.end());
  FrameReader reader;
  EXPECT_EQ(reader.take(stream.data(), stream.size()), 4u);
  EXPECT_EQ(reader.awaiting(), 5u);
  EXPECT_EQ(reader.pending(), 4u);
  reader.admit();
  EXPECT_FALSE(reader.awaiting());
  EXPECT_EQ(reader.pending(), 9u);  // the prefix and room for the body
  // The body, then the next prefix, which waits in turn.
  EXPECT_EQ(reader.take(stream.data() + 4, stream.size() - 4), first.size());
  auto frame = reader.next();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->id, 1u);
  EXPECT_EQ(reader.awaiting(), 5u);
  EXPECT_FALSE(reader.next());
}

TEST(MessengerFraming, IncompleteFrameWaits) {
  Bytes frame = halvix::flutter_engine::encodeReplyFrame(1, nullptr, 0);
  FrameReader reader;
  reader.feed(frame.data(), frame.size() - 1);
  EXPECT_FALSE(reader.next());
  EXPECT_FALSE(reader.failed());
  reader.feed(&frame.back(), 1);
  EXPECT_TRUE(reader.next());
}

}  // namespace
