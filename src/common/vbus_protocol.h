// The virtual bus protocol: how the library's virtual USB and HID backends
// talk to the process that simulates the bus (wfsim), over a Unix-domain
// stream socket.
//
// Every message is a frame: an 8-byte header, then the payload.
//
//   offset size  field
//   0      2     magic 'W' 'V'
//   2      1     version (kVersion)
//   3      1     type: a request below, or the request's type | 0x80 for its reply
//   4      4     payload length, little-endian, at most kMaxPayload
//
// All integers in payloads are little-endian. Every reply payload starts with
// a 32-bit signed status: 0 or a positive count for success, else one of the
// wfusb_result codes (usb_backend.h), which carry libusb's values. A peer that
// sends a frame with another magic or version, an unknown type or an
// over-long payload gets the reply status WFUSB_ERROR_NOT_SUPPORTED (when the
// header could be read) and the connection is closed.
//
// A connection is a session. Claims and opened HID devices belong to their
// session: when the session ends (close, crash), they are released, as the
// kernel releases a dead process's claims. One session answers its requests
// in order; a client that needs a blocking IN transfer beside other requests
// opens a second session and binds it to its claim.
//
// Requests and their reply payloads (after the status):
//
//   LIST         -                          u16 count, then per device:
//                                             u32 id, u8 kind (1 USB, 2 HID), u16 vendor, u16 product,
//                                             u8 serial string index, u8 number of settings, per setting:
//                                               u8 interface, u8 alternate, u8 class, u8 subclass, u8 protocol,
//                                               u8 number of endpoints, per endpoint: u8 address, u8 attributes,
//                                               u16 maximum packet size
//   OPEN         u32 id                     -            (the session now holds that device)
//   STRING       u8 index                   the text; status = its length
//   CLAIM        u8 interface               u32 claim token
//   RELEASE      u8 interface               -
//   BIND         u32 id, u32 claim token    -            (this session now moves the claim's bulk data)
//   BULK         u8 endpoint, u32 length,   u32 bytes moved, then for IN the bytes; status 0 or an error
//                u32 time-out ms, OUT data  (WFUSB_ERROR_TIMEOUT with the bytes that came before it)
//   CLEAR_HALT   u8 endpoint                -
//   HID_OPEN     u16 vendor, u16 product    -
//   HID_WRITE    the report (id first)      status = bytes taken
//   HID_READ     u16 room, u32 time-out ms  the report (id first); status = its length, 0 when none came
//
// A device that was detached answers every request of a session that held it
// with WFUSB_ERROR_NO_DEVICE. Waits are bounded on both sides: the server
// caps a transfer's time-out at kLongestWaitMs, and the client gives up on
// a reply kReplyMarginMs after the time-out it asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vbus {

constexpr uint8_t kMagic0 = 'W';
constexpr uint8_t kMagic1 = 'V';
constexpr uint8_t kVersion = 1;
constexpr size_t kHeaderSize = 8;
constexpr uint32_t kMaxPayload = 64 * 1024;
constexpr uint32_t kLongestWaitMs = 60000;
constexpr uint32_t kReplyMarginMs = 3000;
constexpr uint8_t kReplyBit = 0x80;

enum class Type : uint8_t {
  List = 0x01,
  Open = 0x02,
  String = 0x03,
  Claim = 0x04,
  Release = 0x05,
  Bind = 0x06,
  Bulk = 0x07,
  ClearHalt = 0x08,
  HidOpen = 0x10,
  HidWrite = 0x11,
  HidRead = 0x12,
};

enum class DeviceKind : uint8_t { Usb = 1, Hid = 2 };

// Whether a request type is one of the protocol's.
bool isRequest(uint8_t type);

struct Header {
  uint8_t type = 0;
  uint32_t length = 0;
};

// The header of a frame, or nothing when the bytes are not one of this
// protocol's version (wrong magic or version, or a payload over the limit).
std::optional<Header> parseHeader(const uint8_t* bytes);
// A whole frame: header and payload.
std::vector<uint8_t> frame(uint8_t type, const std::vector<uint8_t>& payload);

// Builds a payload.
class Writer {
 public:
  Writer& u8(uint8_t value);
  Writer& u16(uint16_t value);
  Writer& u32(uint32_t value);
  Writer& i32(int32_t value) { return u32(static_cast<uint32_t>(value)); }
  Writer& bytes(const uint8_t* data, size_t length);
  const std::vector<uint8_t>& data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
};

// Reads a payload; every read past its end fails and leaves the reader failed.
class Reader {
 public:
  Reader(const uint8_t* data, size_t length) : data_(data), length_(length) {}
  explicit Reader(const std::vector<uint8_t>& data) : Reader(data.data(), data.size()) {}
  bool u8(uint8_t& value);
  bool u16(uint16_t& value);
  bool u32(uint32_t& value);
  bool i32(int32_t& value);
  // Points at the next `length` bytes and skips them.
  bool bytes(size_t length, const uint8_t*& out);
  size_t left() const { return failed_ ? 0 : length_ - position_; }
  bool failed() const { return failed_; }

 private:
  bool take(size_t length, const uint8_t*& out);
  const uint8_t* data_;
  size_t length_;
  size_t position_ = 0;
  bool failed_ = false;
};

}  // namespace vbus
