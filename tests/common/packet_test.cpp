#include <gtest/gtest.h>

#include <vector>

#include "common/aPacket.h"

namespace {

struct AddCase {
  const char* name;
  std::vector<uint8_t> bytes;
  aErr lastResult;
  bool complete;
};

TEST(Packet, AddByteFramesAndRejects) {
  const AddCase cases[] = {
      {"zero address", {0x00}, aErrPacket, false},
      {"odd address", {0x05}, aErrPacket, false},
      {"empty packet", {0x02, 0x00}, aErrNone, true},
      {"length over 28", {0x02, 29}, aErrPacket, false},
      {"one data byte", {0x06, 0x01, 0x42}, aErrNone, true},
      {"byte after empty packet", {0x02, 0x00, 0x07}, aErrPacket, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    aPacket* packet = aPacket_Create();
    ASSERT_NE(packet, nullptr);
    aErr result = aErrNone;
    for (uint8_t byte : c.bytes) result = aPacket_AddByte(packet, byte);
    EXPECT_EQ(result, c.lastResult);
    EXPECT_EQ(aPacket_IsComplete(packet), c.complete);
    aPacket_Destroy(&packet);
  }
}

TEST(Packet, ThirtyFirstByteOverruns) {
  aPacket* packet = aPacket_Create();
  ASSERT_EQ(aPacket_AddByte(packet, 0x02), aErrNone);
  ASSERT_EQ(aPacket_AddByte(packet, 28), aErrNone);
  for (int i = 0; i < 28; ++i) ASSERT_EQ(aPacket_AddByte(packet, static_cast<uint8_t>(i)), aErrNone);
  EXPECT_TRUE(aPacket_IsComplete(packet));
  EXPECT_EQ(packet->data[27], 27);
  EXPECT_EQ(aPacket_AddByte(packet, 0x00), aErrOverrun);
  // Stays overrun however much junk follows, until reset.
  for (int i = 0; i < 300; ++i) EXPECT_EQ(aPacket_AddByte(packet, 0x02), aErrOverrun);
  EXPECT_EQ(aPacket_Reset(packet), aErrNone);
  EXPECT_EQ(aPacket_AddByte(packet, 0x02), aErrNone);
  aPacket_Destroy(&packet);
}

TEST(Packet, CreateWithDataBounds) {
  uint8_t data[29] = {};
  EXPECT_EQ(aPacket_CreateWithData(0x02, 29, data), nullptr);
  EXPECT_EQ(aPacket_CreateWithData(0x02, 1, nullptr), nullptr);
  aPacket* packet = aPacket_CreateWithData(0x02, 28, data);
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(packet->received, 30);
  EXPECT_TRUE(aPacket_IsComplete(packet));
  aPacket* copy = aPacket_Copy(packet);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->length, 28);
  aPacket_Destroy(&copy);
  aPacket_Destroy(&packet);
  EXPECT_EQ(packet, nullptr);
  EXPECT_EQ(aPacket_Destroy(&packet), aErrParam);
}

TEST(Packet, AccessorsMaskAndCheckLength) {
  const uint8_t data[] = {0x17, 0xC5, 0xE3};
  aPacket* packet = aPacket_CreateWithData(0x04, 3, data);
  uint8_t value = 0;
  EXPECT_EQ(aPacket_GetCmd(packet, &value), aErrNone);
  EXPECT_EQ(value, 0x17);
  EXPECT_EQ(aPacket_GetOption(packet, &value), aErrNone);
  EXPECT_EQ(value, 0x05);
  EXPECT_EQ(aPacket_GetIndex(packet, &value), aErrNone);
  EXPECT_EQ(value, 0x03);
  EXPECT_EQ(aPacket_GetCmd(packet, nullptr), aErrParam);
  aPacket_Destroy(&packet);

  packet = aPacket_CreateWithData(0x04, 1, data);
  EXPECT_EQ(aPacket_GetOption(packet, &value), aErrPacket);
  packet->tag = 0;  // a stale handle is refused
  EXPECT_EQ(aPacket_GetCmd(packet, &value), aErrPacket);
  EXPECT_EQ(aPacket_Reset(packet), aErrParam);
  EXPECT_EQ(aPacket_Copy(packet), nullptr);
  aPacket_Destroy(&packet);
}

}  // namespace
