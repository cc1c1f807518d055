// Simulated HID devices on the virtual bus: an opened device is one session
// with the bus server (protocol in vbus_protocol.h). A server that is absent
// or gone looks like a missing or unplugged device.
#include <algorithm>
#include <cstring>
#include <memory>

#include "common/hid_backend.h"
#include "common/vbus_client.h"

namespace {

using vbus::Reply;
using vbus::Session;
using vbus::Type;
using vbus::Writer;

Session* _session(wfhid_device* device) { return reinterpret_cast<Session*>(device); }

// Nothing to set up or tear down for the whole process: each device is a session.
int _init() { return 0; }
int _exit() { return 0; }

wfhid_device* _open(uint16_t vendor, uint16_t product) {
  const std::optional<std::string> path = vbus::socketPath();
  auto session = std::make_unique<Session>();
  if (!path || !session->connect(*path)) return nullptr;
  std::optional<Reply> reply = session->request(Type::HidOpen, Writer().u16(vendor).u16(product).data());
  if (!reply || reply->status != 0) return nullptr;
  return reinterpret_cast<wfhid_device*>(session.release());
}

int _write(wfhid_device* device, const unsigned char* data, size_t length) {
  if (length == 0 || length > vbus::kMaxPayload) return -1;
  std::optional<Reply> reply = _session(device)->request(Type::HidWrite, Writer().bytes(data, length).data());
  if (!reply || reply->status < 0 || static_cast<size_t>(reply->status) > length) return -1;
  return reply->status;
}

int _read_timeout(wfhid_device* device, unsigned char* data, size_t length, int milliseconds) {
  // "Until one comes" is bounded too: by the protocol's longest wait.
  const uint32_t wait = milliseconds < 0 ? vbus::kLongestWaitMs
                                         : std::min(static_cast<uint32_t>(milliseconds), vbus::kLongestWaitMs);
  const uint16_t room = static_cast<uint16_t>(std::min<size_t>(length, UINT16_MAX));
  std::optional<Reply> reply =
      _session(device)->request(Type::HidRead, Writer().u16(room).u32(wait).data(), wait + vbus::kReplyMarginMs);
  if (!reply || reply->status < 0) return -1;
  const size_t count = static_cast<size_t>(reply->status);
  if (count != reply->payload.size() || count > room) return -1;
  if (count > 0) memcpy(data, reply->payload.data(), count);
  return static_cast<int>(count);
}

void _close(wfhid_device* device) { delete _session(device); }

}  // namespace

const wfhid_backend wfhid_vbus_backend = {
    "virtual", _init, _exit, _open, _write, _read_timeout, _close,
};
