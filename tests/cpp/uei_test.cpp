// The UEI helpers: big-endian values, byte-string trailers and the packet
// classifiers that decide what is a UEI and what is a stream sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/aUEI.h"

namespace {

aPacket packetOf(std::vector<uint8_t> data) {
  aPacket packet{};
  packet.address = 0x06;
  packet.length = static_cast<uint8_t>(data.size());
  memcpy(packet.data, data.data(), data.size());
  return packet;
}

TEST(UEIValues, AreMostSignificantByteFirst) {
  uint8_t bytes[4] = {};
  aUEI_StoreShort(bytes, 0x1234);
  EXPECT_EQ(bytes[0], 0x12);
  EXPECT_EQ(bytes[1], 0x34);
  EXPECT_EQ(aUEI_RetrieveShort(bytes), 0x1234);
  aUEI_StoreInt(bytes, 0xDEADBEEF);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(aUEI_RetrieveInt(bytes), 0xDEADBEEFu);

  uint32_t words[2];
  const uint8_t wire[8] = {0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0};
  memcpy(words, wire, sizeof words);
  aUEI_ModifyIntBuffer(words, 2);
  EXPECT_EQ(words[0], 0x01020304u);
  EXPECT_EQ(words[1], 0xA0B0C0D0u);
}

TEST(UEIByteStringTrailer, GivesSequenceMoreAndFullness) {
  aPacket middle = packetOf({0x03, 0x20, 0x00, 'a', 0x85});
  EXPECT_EQ(aUEI_getBytesSequence(&middle), 5);
  EXPECT_EQ(aUEI_getBytesContinue(&middle), UEI_BYTES_MORE);
  EXPECT_FALSE(aUEI_getBytesFullPacket(&middle));
  aPacket last = packetOf(std::vector<uint8_t>(28, 0x00));
  last.data[27] = 0x7F;
  EXPECT_EQ(aUEI_getBytesSequence(&last), 0x7F);
  EXPECT_EQ(aUEI_getBytesContinue(&last), 0);
  EXPECT_TRUE(aUEI_getBytesFullPacket(&last));
  last.length = 27;
  EXPECT_TRUE(aUEI_getBytesFullPacket(&last));
  last.length = 26;
  EXPECT_FALSE(aUEI_getBytesFullPacket(&last));
  EXPECT_EQ(aUEI_getBytesSequence(nullptr), 0);
  EXPECT_EQ(aUEI_getBytesContinue(nullptr), 0);
  EXPECT_FALSE(aUEI_getBytesFullPacket(nullptr));
}

TEST(UEIPayload, NonUEICommandsAreTheListedOnes) {
  const std::vector<uint8_t> notUEI = {0x00, 0x01, 0x02, 0x04, 0x08, 0x09, 0x17, 0x18, 0x49, 0x5E, 0x5F, 0xAD, 0xAF};
  for (int command = 0; command < 256; ++command) {
    aPacket packet = packetOf({static_cast<uint8_t>(command), 0x01, 0x00});
    const bool listed = std::find(notUEI.begin(), notUEI.end(), command) != notUEI.end();
    EXPECT_EQ(aUEI_isNotUEIPayload(&packet), listed) << command;
    EXPECT_EQ(aUEI_isUEIPayload(&packet), !listed) << command;
  }
  EXPECT_FALSE(aUEI_isNotUEIPayload(nullptr));
  EXPECT_TRUE(aUEI_isUEIPayload(nullptr));
}

TEST(UEIStreamPacket, NeedsStreamFlagNoRequestFlagsAndASample) {
  struct Case {
    std::vector<uint8_t> data;
    bool stream;
  } const cases[] = {
      {{0x03, 0x07, 0x40, 0x03, 0x00}, true},  // option clear, UEI_STREAM set, length 5
      {{0x03, 0x07, 0x40, 0x03}, false},  // length 4 carries no sample
      {{0x03, 0x47, 0x40, 0x03, 0x00}, false},  // a get request
      {{0x03, 0x87, 0x40, 0x03, 0x00}, false},  // a set request
      {{0x03, 0x07, 0x00, 0x03, 0x00}, false},  // no stream flag
      {{0x04, 0x07, 0x40, 0x03, 0x00}, false},  // store slots carry no UEIs
  };
  for (const Case& c : cases) {
    aPacket packet = packetOf(c.data);
    EXPECT_EQ(aUEI_isStreamPacket(&packet), c.stream) << ::testing::PrintToString(c.data);
  }
  EXPECT_FALSE(aUEI_isStreamPacket(nullptr));
}

}  // namespace
