// Packets as a module sees them on its byte stream: address, length, data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wfsim {

constexpr size_t kMaxPacketData = 28;
constexpr uint8_t kAddressQuery = 0xAD;  // host: "answer with your address"
constexpr uint8_t kForceRoute = 0xAF;  // host: route setting, no answer
constexpr uint8_t kCmdHeartbeat = 0x00;

struct Packet {
  uint8_t address = 0;
  std::vector<uint8_t> data;  // at most kMaxPacketData bytes

  std::vector<uint8_t> wire() const;
};

// "XX XX XX": bytes as upper-case hexadecimal pairs, between them the separator.
std::string hexBytes(const uint8_t* bytes, size_t length, const char* separator = " ");
inline std::string hexBytes(const std::vector<uint8_t>& bytes, const char* separator = " ") {
  return hexBytes(bytes.data(), bytes.size(), separator);
}

// Cuts the host's byte stream into packets. The module has no other way to
// find packet boundaries, so a byte that cannot start a packet (0) or a
// length above 28 is dropped and the next byte starts a new packet.
class PacketAssembler {
 public:
  struct Result {
    std::optional<Packet> packet;  // complete with this byte
    std::vector<uint8_t> discarded;  // bytes thrown away with this byte
  };
  Result add(uint8_t byte);
  void reset();

 private:
  Packet partial_;
  size_t received_ = 0;  // 0: waiting for the address, 1: for the length, then data
  size_t length_ = 0;
};

}  // namespace wfsim
