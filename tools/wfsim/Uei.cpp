#include "Uei.h"

#include <algorithm>
#include <iterator>

namespace wfsim {

std::optional<UeiRequest> UeiRequest::parse(const std::vector<uint8_t>& data) {
  if (data.size() < kUeiHeader) return std::nullopt;
  const uint8_t flags = data[1] & ~kUeiOptionMask;
  if (flags != kUeiGet && flags != kUeiSet) return std::nullopt;
  UeiRequest request;
  request.set = flags == kUeiSet;
  request.command = data[0];
  request.option = data[1] & kUeiOptionMask;
  request.index = data[2] & kUeiIndexMask;
  request.value.assign(data.begin() + kUeiHeader, data.end());
  return request;
}

Packet ueiGetReply(uint8_t address, const UeiRequest& request, const std::vector<uint8_t>& value) {
  Packet reply{address, {request.command, request.option, request.index}};
  reply.data.insert(reply.data.end(), value.begin(), value.end());
  return reply;
}

Packet ueiSetReply(uint8_t address, const UeiRequest& request) {
  return Packet{address, {request.command, static_cast<uint8_t>(request.option | kUeiSetReply), request.index}};
}

Packet ueiErrorReply(uint8_t address, const UeiRequest& request, aErr code) {
  const uint8_t option = request.set ? request.option | kUeiSetReply : request.option;
  return Packet{address,
                {request.command, option, static_cast<uint8_t>(request.index | kUeiError), static_cast<uint8_t>(code)}};
}

std::vector<Packet> ueiBytesReply(uint8_t address, const UeiRequest& request, const std::vector<uint8_t>& bytes) {
  std::vector<Packet> run;
  size_t sent = 0;
  uint8_t sequence = 0;
  do {
    const size_t chunk = std::min(kUeiBytesChunk, bytes.size() - sent);
    Packet packet = ueiGetReply(address, request, {});
    packet.data.insert(packet.data.end(), bytes.begin() + static_cast<ptrdiff_t>(sent),
                       bytes.begin() + static_cast<ptrdiff_t>(sent + chunk));
    sent += chunk;
    packet.data.push_back(static_cast<uint8_t>((sent < bytes.size() ? kUeiBytesMore : 0) | sequence));
    run.push_back(std::move(packet));
    sequence = (sequence + 1) & kUeiSequenceMask;
  } while (sent < bytes.size());
  return run;
}

bool isUeiCommand(uint8_t command) {
  static constexpr uint8_t kRawCommands[] = {0x00, 0x01, 0x02, 0x04, 0x08, 0x09, 0x17,
                                             0x18, 0x49, 0x5E, 0x5F, 0xAD, 0xAF};
  return std::find(std::begin(kRawCommands), std::end(kRawCommands), command) == std::end(kRawCommands);
}

std::vector<uint8_t> bigEndian(uint32_t value, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * (size - 1 - i)));
  return bytes;
}

uint32_t fromBigEndian(const std::vector<uint8_t>& bytes, size_t offset, size_t size) {
  uint32_t value = 0;
  for (size_t i = 0; i < size && offset + i < bytes.size(); ++i) value = value << 8 | bytes[offset + i];
  return value;
}

ByteStringReceiver::Outcome ByteStringReceiver::add(const std::vector<uint8_t>& value) {
  Outcome outcome;
  if (value.empty()) {
    // Not even a trailer: the run cannot go on.
    error_ = aErrPacket;
  } else {
    const uint8_t trailer = value.back();
    const uint8_t sequence = trailer & kUeiSequenceMask;
    // A host that gave up on a run starts the next one at 0.
    if (sequence == 0 && expected_ != 0) *this = ByteStringReceiver(capacity_);
    if (sequence != expected_) error_ = aErrPacket;
    if (error_ == aErrNone && bytes_.size() + value.size() - 1 > capacity_) error_ = aErrSize;
    if (error_ == aErrNone) bytes_.insert(bytes_.end(), value.begin(), value.end() - 1);
    expected_ = (expected_ + 1) & kUeiSequenceMask;
    if ((trailer & kUeiBytesMore) != 0) return outcome;
  }
  outcome.complete = true;
  outcome.error = error_;
  if (error_ == aErrNone) outcome.bytes = std::move(bytes_);
  *this = ByteStringReceiver(capacity_);
  return outcome;
}

}  // namespace wfsim
