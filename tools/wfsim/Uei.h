// Entity messages (UEIs) as a module reads and writes them inside packet
// data: [command, option | flags, index | flags, value...]. Values travel
// most significant byte first; byte strings travel in runs of packets with a
// trailer byte (bit 7: more follows, bits 0-6: sequence number).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Packet.h"
#include "common/aError.h"

namespace wfsim {

constexpr uint8_t kCmdSystemEntity = 0x03;
constexpr uint8_t kCmdI2cEntity = 0x08;
constexpr uint8_t kCmdDebugEcho = 0x17;
constexpr uint8_t kCmdModuleInfo = 0x49;

constexpr uint8_t kUeiGet = 0x40;
constexpr uint8_t kUeiSet = 0x80;
constexpr uint8_t kUeiSetReply = 0xC0;
constexpr uint8_t kUeiOptionMask = 0x3F;
constexpr uint8_t kUeiHost = 0x20;
constexpr uint8_t kUeiError = 0x80;
constexpr uint8_t kUeiIndexMask = 0x1F;
constexpr uint8_t kUeiBytesMore = 0x80;
constexpr uint8_t kUeiSequenceMask = 0x7F;
constexpr size_t kUeiBytesChunk = 24;
constexpr size_t kUeiHeader = 3;

// A get or set request from the host; the option and index are bare.
struct UeiRequest {
  bool set = false;
  uint8_t command = 0;
  uint8_t option = 0;
  uint8_t index = 0;
  std::vector<uint8_t> value;  // data bytes after the header

  // Null for data that is not a request: too short, or the option byte
  // carries neither or both of the get and set flags.
  static std::optional<UeiRequest> parse(const std::vector<uint8_t>& data);
};

// The reply to a get: bare option and index, then the value.
Packet ueiGetReply(uint8_t address, const UeiRequest& request, const std::vector<uint8_t>& value);
// The reply to a set or call: option | 0xC0, bare index, no value.
Packet ueiSetReply(uint8_t address, const UeiRequest& request);
// The error reply: the option as the reply it stands for, index | 0x80, the code.
Packet ueiErrorReply(uint8_t address, const UeiRequest& request, aErr code);
// A byte string as the run of get-reply packets that carries it (one packet
// with only a trailer for an empty string).
std::vector<Packet> ueiBytesReply(uint8_t address, const UeiRequest& request, const std::vector<uint8_t>& bytes);

// Whether packets of this command carry UEIs (the other commands are raw
// exchanges: heartbeats, store slots, I2C, echo, module information,
// factory data, upgrade, and the reserved addresses).
bool isUeiCommand(uint8_t command);

std::vector<uint8_t> bigEndian(uint32_t value, size_t size);
uint32_t fromBigEndian(const std::vector<uint8_t>& bytes, size_t offset, size_t size);

// Collects the run of packets of one byte-string set. Packets must arrive
// with sequence numbers 0, 1, ... 127, 0, ...; the run ends with the first
// packet without "more follows", and only then is it answered.
class ByteStringReceiver {
 public:
  explicit ByteStringReceiver(size_t capacity) : capacity_(capacity) {}
  struct Outcome {
    bool complete = false;  // the run has ended: answer it now
    aErr error = aErrNone;  // why the run is refused (with complete)
    std::vector<uint8_t> bytes;  // the string (with complete and no error)
  };
  // `value` is the request's data after the header: payload and trailer.
  Outcome add(const std::vector<uint8_t>& value);

 private:
  size_t capacity_;
  std::vector<uint8_t> bytes_;
  uint8_t expected_ = 0;
  aErr error_ = aErrNone;
};

}  // namespace wfsim
