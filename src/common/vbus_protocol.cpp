// Framing and payload coding of the virtual bus protocol.
#include "common/vbus_protocol.h"

namespace vbus {

bool isRequest(uint8_t type) {
  switch (static_cast<Type>(type)) {
    case Type::List:
    case Type::Open:
    case Type::String:
    case Type::Claim:
    case Type::Release:
    case Type::Bind:
    case Type::Bulk:
    case Type::ClearHalt:
    case Type::HidOpen:
    case Type::HidWrite:
    case Type::HidRead:
      return true;
  }
  return false;
}

std::optional<Header> parseHeader(const uint8_t* bytes) {
  if (bytes[0] != kMagic0 || bytes[1] != kMagic1 || bytes[2] != kVersion) return std::nullopt;
  Header header;
  header.type = bytes[3];
  header.length = static_cast<uint32_t>(bytes[4]) | static_cast<uint32_t>(bytes[5]) << 8 |
                  static_cast<uint32_t>(bytes[6]) << 16 | static_cast<uint32_t>(bytes[7]) << 24;
  if (header.length > kMaxPayload) return std::nullopt;
  return header;
}

std::vector<uint8_t> frame(uint8_t type, const std::vector<uint8_t>& payload) {
  Writer header;
  header.u8(kMagic0).u8(kMagic1).u8(kVersion).u8(type).u32(static_cast<uint32_t>(payload.size()));
  std::vector<uint8_t> bytes = header.data();
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

Writer& Writer::u8(uint8_t value) {
  data_.push_back(value);
  return *this;
}

Writer& Writer::u16(uint16_t value) {
  data_.push_back(static_cast<uint8_t>(value));
  data_.push_back(static_cast<uint8_t>(value >> 8));
  return *this;
}

Writer& Writer::u32(uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) data_.push_back(static_cast<uint8_t>(value >> shift));
  return *this;
}

Writer& Writer::bytes(const uint8_t* data, size_t length) {
  if (length > 0) data_.insert(data_.end(), data, data + length);
  return *this;
}

bool Reader::take(size_t length, const uint8_t*& out) {
  if (failed_ || length > length_ - position_) {
    failed_ = true;
    return false;
  }
  out = data_ + position_;
  position_ += length;
  return true;
}

bool Reader::u8(uint8_t& value) {
  const uint8_t* p = nullptr;
  if (!take(1, p)) return false;
  value = p[0];
  return true;
}

bool Reader::u16(uint16_t& value) {
  const uint8_t* p = nullptr;
  if (!take(2, p)) return false;
  value = static_cast<uint16_t>(p[0] | p[1] << 8);
  return true;
}

bool Reader::u32(uint32_t& value) {
  const uint8_t* p = nullptr;
  if (!take(4, p)) return false;
  value = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
          static_cast<uint32_t>(p[3]) << 24;
  return true;
}

bool Reader::i32(int32_t& value) {
  uint32_t raw = 0;
  if (!u32(raw)) return false;
  value = static_cast<int32_t>(raw);
  return true;
}

bool Reader::bytes(size_t length, const uint8_t*& out) { return take(length, out); }

}  // namespace vbus
