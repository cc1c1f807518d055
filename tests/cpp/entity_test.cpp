// Entities over a real engine link to an in-test module: the system entity's
// gets, sets and byte strings, error replies, and the I2C entity's transfers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <numeric>
#include <vector>

#include "cpp/Entity.h"
#include "cpp/I2CClass.h"
#include "cpp/SystemClass.h"
#include "peer_module.h"

namespace {

using Quorvant::Wrenfield::EntityClass;
using Quorvant::Wrenfield::I2CClass;
using Quorvant::Wrenfield::SystemClass;
using wftest::Bytes;
using wftest::framed;
using wftest::kPeerAddress;

// A byte-string reply: packets of up to 24 bytes with their trailers.
std::vector<Bytes> byteStringReply(uint8_t option, const Bytes& payload, uint8_t firstSequence = 0) {
  std::vector<Bytes> packets;
  size_t offset = 0;
  uint8_t sequence = firstSequence;
  do {
    const size_t chunk = std::min<size_t>(24, payload.size() - offset);
    Bytes data{0x03, option, 0x00};
    data.insert(data.end(), payload.begin() + static_cast<long>(offset),
                payload.begin() + static_cast<long>(offset + chunk));
    offset += chunk;
    data.push_back(static_cast<uint8_t>((offset < payload.size() ? 0x80 : 0x00) | (sequence++ & 0x7F)));
    packets.push_back(framed(kPeerAddress, data));
  } while (offset < payload.size());
  return packets;
}

// A system entity (index 0) that answers gets from a table of value bytes,
// acknowledges every set or call after its last packet, and answers other
// options with an error reply.
class SystemEntity : public wftest::PeerModuleTest {
 protected:
  void SetUp() override {
    wftest::PeerModuleTest::SetUp();
    system.init(&module, 0);
    peer->setResponder([this](const Bytes& packet) { return respond(packet); });
  }
  std::vector<Bytes> respond(const Bytes& packet) {
    if (packet.size() < 5 || packet[2] != 0x03) return {};
    const uint8_t option = packet[3] & 0x3F;
    const std::lock_guard<std::mutex> guard(lock);
    if (packet[3] & 0x80) {
      // A byte string is acknowledged once, after its last packet.
      if (strings.count(option) && (packet.back() & 0x80)) return {};
      return {framed(kPeerAddress, {0x03, static_cast<uint8_t>(option | 0xC0), 0x00})};
    }
    if (const auto found = strings.find(option); found != strings.end()) return byteStringReply(option, found->second);
    const auto found = values.find(option);
    if (found == values.end()) return {framed(kPeerAddress, {0x03, option, 0x80, 0x1D})};
    Bytes reply{0x03, option, 0x00};
    reply.insert(reply.end(), found->second.begin(), found->second.end());
    return {framed(kPeerAddress, reply)};
  }
  void setValue(uint8_t option, const Bytes& value) {
    const std::lock_guard<std::mutex> guard(lock);
    values[option] = value;
  }
  void setString(uint8_t option, const Bytes& value) {
    const std::lock_guard<std::mutex> guard(lock);
    strings[option] = value;
  }

  std::mutex lock;
  std::map<uint8_t, Bytes> values;
  std::map<uint8_t, Bytes> strings;
  SystemClass system;
};

TEST_F(SystemEntity, GettersAskForTheirOptionAndDecodeTheValue) {
  struct Case {
    const char* name;
    uint8_t option;
    Bytes value;
    std::function<aErr(SystemClass&, int64_t*)> call;
    int64_t expected;
  } const cases[] = {
      {"module", 1, {0x06}, [](SystemClass& s, int64_t* o) { uint8_t v; aErr e = s.getModule(&v); *o = v; return e; }, 6},
      {"router", 2, {0x0A}, [](SystemClass& s, int64_t* o) { uint8_t v; aErr e = s.getRouter(&v); *o = v; return e; }, 10},
      {"version", 7, {0x02, 0x0B, 0x00, 0x02},
       [](SystemClass& s, int64_t* o) { uint32_t v; aErr e = s.getVersion(&v); *o = v; return e; }, 0x020B0002},
      {"model", 8, {0x04}, [](SystemClass& s, int64_t* o) { uint8_t v; aErr e = s.getModel(&v); *o = v; return e; }, 4},
      {"serial number", 9, {0x40, 0xF5, 0x84, 0x9A},
       [](SystemClass& s, int64_t* o) { uint32_t v; aErr e = s.getSerialNumber(&v); *o = v; return e; }, 0x40F5849A},
      {"protocol features", 45, {0x80, 0x00, 0x00, 0x00},
       [](SystemClass& s, int64_t* o) { uint32_t v; aErr e = s.getProtocolFeatures(&v); *o = v; return e; }, 0x80000000},
      {"temperature is signed", 27, {0xFF, 0xFF, 0xFF, 0xF6},
       [](SystemClass& s, int64_t* o) { int32_t v; aErr e = s.getTemperature(&v); *o = v; return e; }, -10},
      {"minimum temperature", 28, {0x80, 0x00, 0x00, 0x00},
       [](SystemClass& s, int64_t* o) { int32_t v; aErr e = s.getMinimumTemperature(&v); *o = v; return e; },
       INT32_MIN},
      {"LED max brightness", 42, {0x7F},
       [](SystemClass& s, int64_t* o) { uint8_t v; aErr e = s.getLEDMaxBrightness(&v); *o = v; return e; }, 127},
      {"build", 43, {0x00, 0x00, 0x04, 0xD2},
       [](SystemClass& s, int64_t* o) { uint32_t v; aErr e = s.getBuild(&v); *o = v; return e; }, 1234},
  };
  for (const Case& c : cases) {
    setValue(c.option, c.value);
    int64_t out = 0;
    EXPECT_EQ(c.call(system, &out), aErrNone) << c.name;
    EXPECT_EQ(out, c.expected) << c.name;
    EXPECT_TRUE(peer->awaitPacket(framed(kPeerAddress, {0x03, static_cast<uint8_t>(c.option | 0x40), 0x20})))
        << c.name;
  }
}

TEST_F(SystemEntity, SettersAndCallsSendTheirValueAndAwaitTheAcknowledgement) {
  struct Case {
    const char* name;
    std::function<aErr(SystemClass&)> call;
    Bytes request;
  } const cases[] = {
      {"router", [](SystemClass& s) { return s.setRouter(0x0A); }, {0x03, 0x82, 0x20, 0x0A}},
      {"route to me", [](SystemClass& s) { return s.routeToMe(1); }, {0x03, 0x94, 0x20, 0x01}},
      {"reset", [](SystemClass& s) { return s.reset(); }, {0x03, 0x8B, 0x20}},
      {"save", [](SystemClass& s) { return s.save(); }, {0x03, 0x8A, 0x20}},
      {"power limit", [](SystemClass& s) { return s.setPowerLimitMax(0x00012345); },
       {0x03, 0xA2, 0x20, 0x00, 0x01, 0x23, 0x45}},
      {"factory defaults", [](SystemClass& s) { return s.resetDeviceToFactoryDefaults(); }, {0x03, 0xA5, 0x20}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(system), aErrNone) << c.name;
    EXPECT_EQ(sent().back(), framed(kPeerAddress, c.request)) << c.name;
  }
}

TEST_F(SystemEntity, ErrorRepliesAndOddRepliesBecomeErrors) {
  uint32_t value = 0;
  EXPECT_EQ(system.getErrors(&value), aErrInvalidOption) << "the module has no option 41";
  EXPECT_EQ(system.getUptime(nullptr), aErrParam);
  // Six data bytes are no value of a known size.
  setValue(22, {0x00, 0x01, 0x02});
  EXPECT_EQ(system.getUptime(&value), aErrSize);

  // A reply whose index byte carries the error flag for index 3.
  SystemClass third;
  third.init(&module, 3);
  peer->setResponder([](const Bytes&) { return std::vector<Bytes>{framed(kPeerAddress, {0x03, 0x01, 0x83, 0x1A})}; });
  uint8_t address = 0;
  EXPECT_EQ(third.getModule(&address), aErrIndexRange);
}

TEST_F(SystemEntity, SubindexedGetsAndSetsCarryTheSubindex) {
  EntityClass entity;
  entity.init(&module, 0x03, 0);
  peer->setResponder([](const Bytes& packet) {
    if (packet == framed(kPeerAddress, {0x03, 0x45, 0x20, 0x02}))
      return std::vector<Bytes>{framed(kPeerAddress, {0x03, 0x05, 0x00, 0x12, 0x34})};
    if (packet == framed(kPeerAddress, {0x03, 0x85, 0x20, 0x02, 0xCA, 0xFE, 0xBA, 0xBE}))
      return std::vector<Bytes>{framed(kPeerAddress, {0x03, 0xC5, 0x00})};
    return std::vector<Bytes>{};
  });
  uint16_t value = 0;
  EXPECT_EQ(entity.getUEI16(5, 2, &value), aErrNone);
  EXPECT_EQ(value, 0x1234);
  EXPECT_EQ(entity.setUEI32(5, 2, 0xCAFEBABE), aErrNone);
}

TEST_F(SystemEntity, ByteStringsBothWays) {
  setString(32, {});
  Bytes name(30);
  std::iota(name.begin(), name.end(), uint8_t{'A'});
  ASSERT_EQ(system.setName(name.data(), name.size()), aErrNone);
  const std::vector<Bytes> out = sent();
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out[out.size() - 2].back(), 0x80);
  EXPECT_EQ(out.back().back(), 0x01);

  // 130 packets: the sequence wraps from 127 to 0 on the way.
  struct Case {
    size_t length;
    size_t capacity;
    aErr result;
  } const cases[] = {{0, 8, aErrNone}, {50, 50, aErrNone}, {50, 49, aErrMemory}, {130 * 24, 4000, aErrNone}};
  for (const Case& c : cases) {
    Bytes payload(c.length);
    std::iota(payload.begin(), payload.end(), uint8_t{7});
    setString(32, payload);
    Bytes buffer(c.capacity);
    size_t received = 99;
    EXPECT_EQ(system.getName(buffer.data(), buffer.size(), &received), c.result) << c.length;
    if (c.result == aErrNone) {
      ASSERT_EQ(received, c.length);
      EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<long>(received)), payload) << c.length;
    }
    system.drainUEI(32);
  }
  size_t received = 0;
  uint8_t buffer[4];
  EXPECT_EQ(system.getName(nullptr, 4, &received), aErrParam);
  EXPECT_EQ(system.getName(buffer, 0, &received), aErrParam);
  EXPECT_EQ(system.getName(buffer, 4, nullptr), aErrParam);
}

TEST_F(SystemEntity, ByteStringPacketsAreTakenInSequence) {
  // The module's packets arrive out of order: sequence 1 first.
  Bytes payload(40);
  std::iota(payload.begin(), payload.end(), uint8_t{1});
  peer->setResponder([payload](const Bytes& packet) {
    if (packet.size() < 3 || packet[2] != 0x03) return std::vector<Bytes>{};
    std::vector<Bytes> run = byteStringReply(32, payload);
    std::swap(run[0], run[1]);
    return run;
  });
  uint8_t buffer[64];
  size_t received = 0;
  ASSERT_EQ(system.getName(buffer, sizeof buffer, &received), aErrNone);
  EXPECT_EQ(Bytes(buffer, buffer + received), payload);
}

TEST_F(SystemEntity, PowerBehaviorWordsCountWholeWordsOnly) {
  uint32_t words[4] = {};
  size_t count = 0;
  setString(31, Bytes(10, 0x11));
  EXPECT_EQ(system.getInputPowerBehaviorConfig(words, 4, &count), aErrMemory);
  const uint32_t expected[2] = {0x04030201, 0x08070605};
  Bytes raw(8);
  memcpy(raw.data(), expected, 8);
  setString(31, raw);
  ASSERT_EQ(system.getInputPowerBehaviorConfig(words, 4, &count), aErrNone);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(words[0], expected[0]);
  EXPECT_EQ(words[1], expected[1]);

  ASSERT_EQ(system.setInputPowerBehaviorConfig(expected, 2), aErrNone);
  Bytes request{0x03, 0x9F, 0x20};
  request.insert(request.end(), raw.begin(), raw.end());
  request.push_back(0x00);
  EXPECT_EQ(sent().back(), framed(kPeerAddress, request));
}

TEST_F(SystemEntity, UnsolicitedValuesAreAwaitedOrDrained) {
  peer->setResponder(nullptr);
  peer->inject(framed(kPeerAddress, {0x03, 0x16, 0x00, 0x00, 0x00, 0x01, 0x00}));
  uint32_t value = 0;
  ASSERT_EQ(system.awaitUEI32Val(0x16, &value, 10), aErrNone);
  EXPECT_EQ(value, 0x100u);
  EXPECT_EQ(system.awaitUEI32Val(0x16, nullptr, 10), aErrParam);

  peer->inject(framed(kPeerAddress, {0x03, 0x16, 0x00, 0x00, 0x00, 0x00, 0x01}));
  peer->inject(framed(kPeerAddress, {0x03, 0x16, 0x00, 0x00, 0x00, 0x00, 0x02}));
  // Once a later packet has arrived, the two before it are queued too.
  peer->inject(framed(kPeerAddress, {0x03, 0x17, 0x00, 0x00, 0x00, 0x00, 0x09}));
  ASSERT_EQ(system.awaitUEI32Val(0x17, &value, 10), aErrNone);
  EXPECT_EQ(system.drainUEI(0x16), aErrNone);
  EXPECT_EQ(system.awaitUEI32Val(0x16, &value, 10), aErrTimeout);
}

TEST(Entity, WithoutAModuleNothingIsSent) {
  EntityClass entity;
  uint8_t byte = 0;
  uint32_t word = 0;
  uei message{};
  EXPECT_EQ(entity.getUEI8(1, &byte), aErrResource);
  EXPECT_EQ(entity.getUEI8(1, nullptr), aErrParam);
  EXPECT_EQ(entity.setUEI32(1, 5), aErrResource);
  EXPECT_EQ(entity.getUEI(1, &message), aErrResource);
  EXPECT_EQ(entity.callUEI(1), aErrResource);
  EXPECT_EQ(entity.awaitUEI32Val(1, &word, 0), aErrResource);
  EXPECT_EQ(entity.drainUEI(1), aErrResource);
  EXPECT_EQ(entity.sendPacket(0x08, 1, &byte), aErrResource);
  uint8_t length = 1, data[aPACKET_MAXDATA];
  EXPECT_EQ(entity.receivePacket(&byte, &length, data), aErrResource);
  size_t received = 0;
  EXPECT_EQ(entity.getUEIBytes(1, data, sizeof data, &received), aErrResource);
}

TEST(Entity, ByteCountsBecomeElementCounts) {
  struct Case {
    size_t count;
    size_t size;
    aErr result;
    size_t after;
  } const cases[] = {{8, 4, aErrNone, 2}, {10, 4, aErrMemory, 10}, {0, 4, aErrNone, 0}, {7, 1, aErrNone, 7}};
  for (const Case& c : cases) {
    size_t count = c.count;
    EXPECT_EQ(EntityClass::getUEIBytesCheck(&count, c.size), c.result) << c.count;
    EXPECT_EQ(count, c.after) << c.count;
  }
  EXPECT_EQ(EntityClass::getUEIBytesCheck(nullptr, 4), aErrParam);
}

class I2CEntity : public wftest::PeerModuleTest {
 protected:
  void SetUp() override {
    wftest::PeerModuleTest::SetUp();
    i2c.init(&module, 0);
  }
  // The router answers every I2C request with `reply`.
  void answer(const Bytes& reply) {
    peer->setResponder([reply](const Bytes& packet) {
      return packet.size() > 2 && packet[2] == 0x08 ? std::vector<Bytes>{framed(kPeerAddress, reply)}
                                                    : std::vector<Bytes>{};
    });
  }
  I2CClass i2c;
};

TEST_F(I2CEntity, WritesUpTo23BytesAndReportsTheBusStatus) {
  Bytes bytes(24, 0x3C);
  answer({0x08, 0x00, 0x10, 0x00, 0x00});
  ASSERT_EQ(i2c.setSpeed(2), aErrNone);
  EXPECT_EQ(i2c.write(0x10, 23, bytes.data()), aErrNone);
  Bytes request{0x08, 0x00, 0x10, 23, 0x02};
  request.insert(request.end(), 23, 0x3C);
  EXPECT_EQ(sent().back(), framed(kPeerAddress, request));
  EXPECT_EQ(sent().back()[1], 28);
  const size_t before = sent().size();
  EXPECT_EQ(i2c.write(0x10, 24, bytes.data()), aErrSize);
  flush();
  EXPECT_EQ(sent().size(), before);

  answer({0x08, 0x00, 0x10, 0x00, 0x86});
  EXPECT_EQ(i2c.write(0x10, 1, bytes.data()), aErrIO);
  answer({0x08, 0x00, 0x10, 0x00});
  EXPECT_EQ(i2c.write(0x10, 1, bytes.data()), aErrPacket) << "no status byte";
  // A reply that echoes the length instead of 0x00 is no write reply.
  answer({0x08, 0x00, 0x10, 0x01, 0x00});
  EXPECT_EQ(i2c.write(0x10, 1, bytes.data()), aErrTimeout);
}

TEST_F(I2CEntity, ReadsWhatTheReplyCountsAndSetsThePullUp) {
  answer({0x08, 0x00, 0x11, 0x03, 0x00, 0xA1, 0xA2, 0xA3});
  uint8_t buffer[8] = {};
  EXPECT_EQ(i2c.read(0x10, 3, buffer), aErrNone);
  EXPECT_EQ(sent().back(), framed(kPeerAddress, {0x08, 0x00, 0x11, 0x03, 0x00}));
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0xA1, 0xA2, 0xA3, 0x00}));
  EXPECT_EQ(i2c.read(0x10, 2, buffer), aErrPacket) << "more bytes than asked for";
  answer({0x08, 0x00, 0x11, 0x09, 0x00, 0xA1});
  EXPECT_EQ(i2c.read(0x10, 9, buffer), aErrPacket) << "more bytes counted than carried";
  EXPECT_EQ(i2c.read(0x10, 24, buffer), aErrSize);

  answer({0x08, 0x00, 0x01, 0x00, 0x00});
  EXPECT_EQ(i2c.setPullup(true), aErrNone);
  EXPECT_EQ(sent().back(), framed(kPeerAddress, {0x08, 0x00, 0x01, 0x01}));

  uint8_t speed = 9;
  EXPECT_EQ(i2c.setSpeed(4), aErrParam);
  ASSERT_EQ(i2c.getSpeed(&speed), aErrNone);
  EXPECT_EQ(speed, 0);
}

}  // namespace
