#include "Packet.h"

#include <algorithm>
#include <cstdio>

namespace wfsim {

std::vector<uint8_t> Packet::wire() const {
  std::vector<uint8_t> bytes(2 + data.size());
  bytes[0] = address;
  bytes[1] = static_cast<uint8_t>(data.size());
  std::copy(data.begin(), data.end(), bytes.begin() + 2);
  return bytes;
}

std::string hexBytes(const uint8_t* bytes, size_t length, const char* separator) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    char pair[3];
    snprintf(pair, sizeof pair, "%02X", bytes[i]);
    if (i > 0) text += separator;
    text += pair;
  }
  return text;
}

PacketAssembler::Result PacketAssembler::add(uint8_t byte) {
  Result result;
  if (received_ == 0) {
    if (byte == 0) {
      result.discarded.push_back(byte);
      return result;
    }
    partial_.address = byte;
    partial_.data.clear();
    received_ = 1;
    return result;
  }
  if (received_ == 1) {
    if (byte > kMaxPacketData) {
      result.discarded = {partial_.address, byte};
      reset();
      return result;
    }
    length_ = byte;
    received_ = 2;
  } else {
    partial_.data.push_back(byte);
    ++received_;
  }
  if (partial_.data.size() == length_) {
    result.packet = partial_;
    reset();
  }
  return result;
}

void PacketAssembler::reset() {
  partial_ = Packet{};
  received_ = 0;
  length_ = 0;
}

}  // namespace wfsim
