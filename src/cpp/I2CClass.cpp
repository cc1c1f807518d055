#include "cpp/I2CClass.h"

#include <cstring>

#include "common/aPacket.h"
#include "common/aUEI.h"

namespace Quorvant::Wrenfield {

namespace {

constexpr uint8_t kMaxSpeedCode = 3;
constexpr uint8_t kMaxTransfer = 23;
constexpr uint8_t kPullupAddress = 1;  // the bus's own settings, not a device
constexpr uint8_t kReadFlag = 1;
constexpr uint8_t kStatusError = 0x80;
// Reply: [0x08, index, address, count, status, bytes...]
constexpr size_t kCountByte = 3;
constexpr size_t kStatusByte = 4;
constexpr size_t kDataStart = 5;
// Request: [index, address, length, speed, bytes...]
constexpr uint8_t kWriteHeader = 4;

}  // namespace

struct I2CClass::Impl {
  uint8_t speed = 0;
};

I2CClass::I2CClass() : m_impl(std::make_unique<Impl>()) {}

I2CClass::~I2CClass() = default;

aErr I2CClass::init(Module* module, uint8_t index) {
  m_impl->speed = 0;
  return EntityClass::init(module, cmdI2CENTITY, index);
}

aErr I2CClass::setSpeed(uint8_t code) {
  if (code > kMaxSpeedCode) return aErrParam;
  m_impl->speed = code;
  return aErrNone;
}

aErr I2CClass::getSpeed(uint8_t* code) const {
  if (code == nullptr) return aErrParam;
  *code = m_impl->speed;
  return aErrNone;
}

aErr I2CClass::transfer(const uint8_t* request, uint8_t length, bool writeReply, uint8_t* reply,
                        uint8_t* replyLength) {
  const aErr sent = sendPacket(cmdI2CENTITY, length, request);
  if (sent != aErrNone) return sent;
  // The reply echoes the command, the index and the address; a write's reply
  // has 0x00 where its request had the length.
  const uint8_t wanted[] = {cmdI2CENTITY, request[0], request[1], 0x00};
  *replyLength = writeReply ? 4 : 3;
  const aErr received = receivePacket(wanted, replyLength, reply);
  if (received != aErrNone) return received;
  if (*replyLength <= kStatusByte) return aErrPacket;
  const uint8_t status = reply[kStatusByte];
  return (status & kStatusError) != 0 ? static_cast<aErr>(status & ~kStatusError) : aErrNone;
}

aErr I2CClass::write(uint8_t address, uint8_t length, const uint8_t* bytes) {
  if (length > kMaxTransfer) return aErrSize;
  if (bytes == nullptr && length != 0) return aErrParam;
  uint8_t request[aPACKET_MAXDATA] = {getIndex(), address, length, m_impl->speed};
  if (length != 0) memcpy(request + kWriteHeader, bytes, length);
  uint8_t reply[aPACKET_MAXDATA];
  uint8_t replyLength = 0;
  return transfer(request, static_cast<uint8_t>(kWriteHeader + length), true, reply, &replyLength);
}

aErr I2CClass::read(uint8_t address, uint8_t length, uint8_t* buffer) {
  if (length > kMaxTransfer) return aErrSize;
  if (buffer == nullptr && length != 0) return aErrParam;
  const uint8_t target = address | kReadFlag;
  uint8_t reply[aPACKET_MAXDATA];
  uint8_t replyLength = 0;
  const uint8_t request[] = {getIndex(), target, length, m_impl->speed};
  const aErr result = transfer(request, sizeof request, false, reply, &replyLength);
  if (result != aErrNone) return result;
  // The count must fit both what the reply holds and what was asked for.
  const size_t count = reply[kCountByte];
  if (count > length || kDataStart + count > replyLength) return aErrPacket;
  if (count != 0) memcpy(buffer, reply + kDataStart, count);
  return aErrNone;
}

aErr I2CClass::setPullup(bool enable) {
  uint8_t reply[aPACKET_MAXDATA];
  uint8_t replyLength = 0;
  const uint8_t request[] = {getIndex(), kPullupAddress, static_cast<uint8_t>(enable ? 1 : 0)};
  return transfer(request, sizeof request, false, reply, &replyLength);
}

}  // namespace Quorvant::Wrenfield
