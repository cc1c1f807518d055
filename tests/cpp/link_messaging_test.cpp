// UEIs and raw command packets through a real engine link to an in-test
// module: the exact packets each message becomes, and how replies are matched
// and decoded.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "common/aDebug.h"
#include "peer_module.h"

namespace {

using Quorvant::Wrenfield::Link;
using wftest::Bytes;
using wftest::framed;
using wftest::kPeerAddress;

class LinkMessaging : public wftest::PeerModuleTest {};

uei record(uint8_t module, uint8_t command, uint8_t option, uint8_t index) {
  uei message{};
  message.module = module;
  message.command = command;
  message.option = option;
  message.index = index;
  return message;
}

uei scalar(ueiKind kind, uint32_t value) {
  uei message = record(kPeerAddress, 0x03, 0x87, 0x20);
  message.kind = kind;
  if (kind == UEI_BYTE) message.value.byteVal = static_cast<uint8_t>(value);
  if (kind == UEI_SHORT) message.value.shortVal = static_cast<uint16_t>(value);
  if (kind == UEI_INT) message.value.intVal = value;
  return message;
}

TEST_F(LinkMessaging, ScalarUEIsArePackedMostSignificantByteFirst) {
  struct Case {
    ueiKind kind;
    uint32_t value;
    int subindex;  // -1: none
    Bytes data;
  } const cases[] = {
      {UEI_VOID, 0, -1, {0x03, 0x87, 0x20}},
      {UEI_BYTE, 0xAB, -1, {0x03, 0x87, 0x20, 0xAB}},
      {UEI_SHORT, 0x1234, -1, {0x03, 0x87, 0x20, 0x12, 0x34}},
      {UEI_INT, 0x01020304, -1, {0x03, 0x87, 0x20, 0x01, 0x02, 0x03, 0x04}},
      {UEI_VOID, 0, 5, {0x03, 0x87, 0x20, 0x05}},
      {UEI_BYTE, 0xAB, 5, {0x03, 0x87, 0x20, 0x05, 0xAB}},
      {UEI_SHORT, 0x1234, 5, {0x03, 0x87, 0x20, 0x05, 0x12, 0x34}},
      {UEI_INT, 0x01020304, 5, {0x03, 0x87, 0x20, 0x05, 0x01, 0x02, 0x03, 0x04}},
  };
  std::vector<Bytes> expected;
  for (const Case& c : cases) {
    const uei message = scalar(c.kind, c.value);
    const aErr sent = c.subindex < 0 ? link().sendUEI(message) : link().sendUEI(message, static_cast<uint8_t>(c.subindex));
    EXPECT_EQ(sent, aErrNone) << ::testing::PrintToString(c.data);
    expected.push_back(framed(kPeerAddress, c.data));
  }
  // Byte strings are never subindexed, and an unknown kind sends nothing.
  uei bytes = scalar(UEI_BYTES, 0);
  EXPECT_EQ(link().sendUEI(bytes, 1), aErrParam);
  EXPECT_EQ(link().sendUEI(scalar(static_cast<ueiKind>(3), 7)), aErrParam);
  flush();
  EXPECT_EQ(sent(), expected);
}

TEST_F(LinkMessaging, ByteStringsGoOutAsNumberedRunsThatWrapAt128) {
  struct Case {
    size_t length;
    size_t packets;
  } const cases[] = {{0, 1}, {24, 1}, {25, 2}, {129 * 24, 129}};
  for (const Case& c : cases) {
    std::vector<uint8_t> source(c.length);
    std::iota(source.begin(), source.end(), uint8_t{1});
    uei message = scalar(UEI_BYTES, 0);
    message.value.bytes = ueiBytes{source.data(), 0, 0, source.size(), nullptr};
    const size_t before = sent().size();
    ASSERT_EQ(link().sendUEI(message), aErrNone) << c.length;
    flush();
    const std::vector<Bytes> all = sent();
    const std::vector<Bytes> run(all.begin() + static_cast<long>(before), all.end());
    ASSERT_EQ(run.size(), c.packets) << c.length;
    std::vector<uint8_t> payload;
    for (size_t i = 0; i < run.size(); ++i) {
      const Bytes& packet = run[i];
      ASSERT_GE(packet.size(), 6u);
      EXPECT_EQ(packet[1] + 2u, packet.size());
      EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 5), (Bytes{kPeerAddress, packet[1], 0x03, 0x87, 0x20}));
      const bool last = i + 1 == run.size();
      EXPECT_EQ(packet.back(), (last ? 0x00 : 0x80) | (i % 128)) << c.length << " packet " << i;
      payload.insert(payload.end(), packet.begin() + 5, packet.end() - 1);
    }
    EXPECT_EQ(payload, source) << c.length;
  }
}

TEST_F(LinkMessaging, ByteStringEdgesCarryTheDocumentedTrailers) {
  std::vector<uint8_t> source(25, 0x5A);
  uei message = scalar(UEI_BYTES, 0);
  message.value.bytes = ueiBytes{source.data(), 0, 0, 0, nullptr};
  ASSERT_EQ(link().sendUEI(message), aErrNone);
  message.value.bytes.length = 24;
  ASSERT_EQ(link().sendUEI(message), aErrNone);
  message.value.bytes.length = 25;
  ASSERT_EQ(link().sendUEI(message), aErrNone);
  flush();
  const std::vector<Bytes> packets = sent();
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[0], framed(kPeerAddress, {0x03, 0x87, 0x20, 0x00}));
  EXPECT_EQ(packets[1][1], 28);
  EXPECT_EQ(packets[1].back(), 0x00);
  EXPECT_EQ(packets[2][1], 28);
  EXPECT_EQ(packets[2].back(), 0x80);
  EXPECT_EQ(packets[3], framed(kPeerAddress, {0x03, 0x87, 0x20, 0x5A, 0x01}));
}

TEST_F(LinkMessaging, BadModuleAddressesAndLostLinksSendNothing) {
  for (const uint8_t address : {uint8_t{0x00}, uint8_t{0x03}}) {
    uei message = scalar(UEI_BYTE, 1);
    message.module = address;
    EXPECT_EQ(link().sendUEI(message), aErrPacket);
    EXPECT_EQ(link().sendUEI(message, 2), aErrPacket);
    EXPECT_EQ(link().receiveUEI(address, 0x03, 0x07, 0x00, &message), aErrPacket);
    EXPECT_EQ(link().dropMatchingUEIPackets(address, 0x03, 0x07, 0x00), aErrPacket);
    const uint8_t data[] = {1};
    EXPECT_EQ(link().sendPacket(address, 0x49, 1, data), aErrPacket);
    uint8_t length = 1, reply[aPACKET_MAXDATA];
    EXPECT_EQ(link().receivePacket(address, data, &length, reply), aErrPacket);
  }
  flush();
  EXPECT_TRUE(sent().empty());

  Link unconnected("Link");
  uei message = scalar(UEI_BYTE, 1);
  EXPECT_EQ(unconnected.sendUEI(message), aErrConnection);
  EXPECT_EQ(unconnected.receiveUEI(kPeerAddress, 0x03, 0x07, 0x00, &message), aErrConnection);
  const uint8_t data[] = {1};
  EXPECT_EQ(unconnected.sendPacket(kPeerAddress, 0x49, 1, data), aErrConnection);
}

TEST_F(LinkMessaging, RawCommandsCarryAtMost27Bytes) {
  std::vector<uint8_t> data(28, 0x11);
  EXPECT_EQ(link().sendPacket(kPeerAddress, 0x5F, 28, data.data()), aErrParam);
  EXPECT_EQ(link().sendPacket(kPeerAddress, 0x5F, 27, data.data()), aErrNone);
  flush();
  Bytes expected{0x5F};
  expected.insert(expected.end(), 27, 0x11);
  EXPECT_EQ(sent(), std::vector<Bytes>{framed(kPeerAddress, expected)});
}

TEST_F(LinkMessaging, RepliesDecodeByTheirLength) {
  struct Case {
    Bytes reply;
    ueiKind kind;
    uint32_t value;  // the byte, short or int value; for an error reply the code
    uint8_t index;  // the record's index byte afterwards
  } const cases[] = {
      {{0x03, 0x07, 0x03}, UEI_VOID, 0x55, 0x03},
      {{0x03, 0x07, 0x03, 0xAB}, UEI_BYTE, 0xAB, 0x03},
      {{0x03, 0x07, 0x23, 0x12, 0x34}, UEI_SHORT, 0x1234, 0x03},
      {{0x03, 0x07, 0x03, 0x01, 0x02, 0x03, 0x04}, UEI_INT, 0x01020304, 0x03},
      {{0x03, 0x07, 0x03, 0x01, 0x02, 0x03}, UEI_INT, 0x55, 0x03},  // no kind has length 6: nothing changes
      {{0x03, 0x07, 0x83, 0x06}, UEI_INT, 0x06, 0x83},  // error reply: the code in the value's low byte
  };
  for (const Case& c : cases) {
    peer->inject(framed(kPeerAddress, c.reply));
    uei message = record(kPeerAddress, 0x03, 0x07, 0x03);
    message.kind = UEI_INT;
    message.value.intVal = 0x55;
    ASSERT_EQ(link().receiveUEI(kPeerAddress, 0x03, 0x07, 0x03, &message), aErrNone)
        << ::testing::PrintToString(c.reply);
    EXPECT_EQ(message.kind, c.kind) << ::testing::PrintToString(c.reply);
    const uint32_t value = message.kind == UEI_BYTE    ? message.value.byteVal
                           : message.kind == UEI_SHORT ? message.value.shortVal
                           : c.index & UEI_ERROR       ? message.value.byteVal
                                                       : message.value.intVal;
    EXPECT_EQ(value, c.value) << ::testing::PrintToString(c.reply);
    EXPECT_EQ(message.index, c.index) << ::testing::PrintToString(c.reply);
  }
}

TEST_F(LinkMessaging, UnmatchedRepliesStayQueuedUntilDropped) {
  // Another option, another module, another command, and a short packet first.
  peer->inject(framed(kPeerAddress, {0x03, 0x08, 0x03, 0x01}));
  peer->inject(framed(0x0A, {0x03, 0x07, 0x03, 0x09}));
  peer->inject(framed(kPeerAddress, {0x04, 0x07, 0x03, 0x09}));
  peer->inject(framed(kPeerAddress, {0x03, 0x07}));
  peer->inject(framed(kPeerAddress, {0x03, 0x07, 0x03, 0x02}));
  uei message = record(kPeerAddress, 0x03, 0x07, 0x03);
  ASSERT_EQ(link().receiveUEI(kPeerAddress, 0x03, 0x07, 0x03, &message), aErrNone);
  EXPECT_EQ(message.value.byteVal, 0x02);

  ASSERT_EQ(link().dropMatchingUEIPackets(kPeerAddress, 0x03, 0x08, 0x03), aErrNone);
  uei dropped = record(kPeerAddress, 0x03, 0x08, 0x03);
  EXPECT_EQ(link().receiveUEI(kPeerAddress, 0x03, 0x08, 0x03, &dropped), aErrTimeout);

  uint8_t length = 2, reply[aPACKET_MAXDATA];
  const uint8_t fromOther[] = {0x03, 0x07};
  ASSERT_EQ(link().receivePacket(kPeerAddress, fromOther, &length, reply), aErrNone);
  EXPECT_EQ(length, 4) << "the other module's packet was still queued";
  EXPECT_EQ(reply[3], 0x09);
}

TEST_F(LinkMessaging, ReceivePacketMatchesLeadingBytesFromAnyModule) {
  peer->inject(framed(0x0A, {0x49}));
  peer->inject(framed(0x0C, {0x49, 0x04, 0x03, 0x02}));
  peer->inject(framed(0x0E, {0x49, 0xFF, 0x00, 0x00, 0x04, 0xD2}));
  // Two bytes to match: the one-byte packet cannot, the class count differs.
  uint8_t match[] = {0x49, 0xFF};
  uint8_t length = 2, reply[aPACKET_MAXDATA] = {};
  ASSERT_EQ(link().receivePacket(kPeerAddress, match, &length, reply), aErrNone);
  EXPECT_EQ(length, 6);
  EXPECT_EQ(Bytes(reply, reply + 6), (Bytes{0x49, 0xFF, 0x00, 0x00, 0x04, 0xD2}));
  length = 1;
  ASSERT_EQ(link().receivePacket(kPeerAddress, match, &length, reply), aErrNone);
  EXPECT_EQ(length, 1);
  length = 1;
  ASSERT_EQ(link().receivePacket(kPeerAddress, match, &length, reply), aErrNone);
  EXPECT_EQ(Bytes(reply, reply + length), (Bytes{0x49, 0x04, 0x03, 0x02}));
  length = 1;
  EXPECT_EQ(link().receivePacket(kPeerAddress, match, &length, reply), aErrTimeout);
}

// The debug line that tells a long byte string's reply is awaited 4000 ms.
std::string receiveBytesRecord(Link& link, size_t length) {
  aWrenfieldDebuggingLevel = aDEBUG_LINK;
  aWrenfieldDebuggingEnable = true;
  ::testing::internal::CaptureStdout();
  uei message = record(kPeerAddress, 0x03, 0xE0, 0x00);
  message.kind = UEI_BYTES;
  message.value.bytes.length = length;
  link.receiveUEI(kPeerAddress, 0x03, 0xE0, 0x00, &message);
  std::string out = ::testing::internal::GetCapturedStdout();
  aWrenfieldDebuggingEnable = false;
  aWrenfieldDebuggingLevel = 0;
  return out;
}

TEST_F(LinkMessaging, LongByteStringsWaitLongerForTheirReply) {
  const std::string line = "receiveUEI - Expanding timeout for large payload: 4000\n";
  peer->inject(framed(kPeerAddress, {0x03, 0xE0, 0x00}));
  EXPECT_NE(receiveBytesRecord(link(), 1001).find(line), std::string::npos);
  peer->inject(framed(kPeerAddress, {0x03, 0xE0, 0x00}));
  EXPECT_EQ(receiveBytesRecord(link(), 1000).find(line), std::string::npos);
}

}  // namespace
