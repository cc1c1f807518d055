// The virtual USB bus: the seam's table over sessions with the bus server
// (protocol in vbus_protocol.h). An opened device holds one session for its
// control requests and OUT transfers, and a second one, bound to its claim,
// for IN transfers, so a reader waiting for input never holds up a writer.
// A server that is absent or gone looks like an empty bus or an unplugged
// device.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "common/usb_backend.h"
#include "common/vbus_client.h"

namespace {

using vbus::Reader;
using vbus::Reply;
using vbus::Session;
using vbus::Type;
using vbus::Writer;

struct VbusDevice {
  uint32_t id = 0;
  wfusb_device_descriptor descriptor;
  wfusb_config_descriptor config;
};

struct VbusHandle {
  uint32_t id = 0;
  std::string path;  // the bus it was opened on
  Session control;  // open, strings, claims, OUT transfers, halts
  std::mutex inLock;  // guards the IN session and the claim it binds to
  std::unique_ptr<Session> in;  // IN transfers, bound to the claim
  uint32_t claimToken = 0;
  bool claimed = false;
};

VbusDevice* _device(wfusb_device* device) { return reinterpret_cast<VbusDevice*>(device); }
VbusHandle* _handle(wfusb_handle* handle) { return reinterpret_cast<VbusHandle*>(handle); }

// A status as the seam knows it: counts stay, unknown failures become OTHER.
int _result(int32_t status) { return status >= WFUSB_ERROR_OTHER ? status : WFUSB_ERROR_OTHER; }

bool _readSetting(Reader& reader, wfusb_interface_descriptor& setting) {
  uint8_t endpoints = 0;
  if (!reader.u8(setting.bInterfaceNumber) || !reader.u8(setting.bAlternateSetting) ||
      !reader.u8(setting.bInterfaceClass) || !reader.u8(setting.bInterfaceSubClass) ||
      !reader.u8(setting.bInterfaceProtocol) || !reader.u8(endpoints)) {
    return false;
  }
  for (uint8_t e = 0; e < endpoints; ++e) {
    wfusb_endpoint_descriptor endpoint;
    if (!reader.u8(endpoint.bEndpointAddress) || !reader.u8(endpoint.bmAttributes) ||
        !reader.u16(endpoint.wMaxPacketSize)) {
      return false;
    }
    setting.endpoints.push_back(endpoint);
  }
  return true;
}

// The devices of a LIST reply; false when the reply is malformed.
bool _readDevices(const std::vector<uint8_t>& payload, std::vector<std::unique_ptr<VbusDevice>>& devices) {
  Reader reader(payload);
  uint16_t count = 0;
  if (!reader.u16(count)) return false;
  for (uint16_t i = 0; i < count; ++i) {
    auto device = std::make_unique<VbusDevice>();
    uint8_t kind = 0;
    uint8_t settings = 0;
    if (!reader.u32(device->id) || !reader.u8(kind) || !reader.u16(device->descriptor.idVendor) ||
        !reader.u16(device->descriptor.idProduct) || !reader.u8(device->descriptor.iSerialNumber) ||
        !reader.u8(settings)) {
      return false;
    }
    for (uint8_t s = 0; s < settings; ++s) {
      wfusb_interface_descriptor setting;
      if (!_readSetting(reader, setting)) return false;
      device->config.settings.push_back(std::move(setting));
    }
    devices.push_back(std::move(device));
  }
  return reader.left() == 0;
}

ssize_t _get_device_list(wfusb_device*** list) {
  *list = nullptr;
  std::vector<std::unique_ptr<VbusDevice>> devices;
  const std::optional<std::string> path = vbus::socketPath();
  Session session;
  if (path && session.connect(*path)) {
    std::optional<Reply> reply = session.request(Type::List, {});
    // A malformed list is no list: the bus looks empty rather than half seen.
    if (!reply || reply->status != 0 || !_readDevices(reply->payload, devices)) devices.clear();
  }
  auto* entries = new (std::nothrow) wfusb_device*[devices.size() + 1];
  if (entries == nullptr) return WFUSB_ERROR_NO_MEM;
  for (size_t i = 0; i < devices.size(); ++i) entries[i] = reinterpret_cast<wfusb_device*>(devices[i].release());
  entries[devices.size()] = nullptr;
  *list = entries;
  return static_cast<ssize_t>(devices.size());
}

void _free_device_list(wfusb_device** list) {
  if (list == nullptr) return;
  for (wfusb_device** entry = list; *entry != nullptr; ++entry) delete _device(*entry);
  delete[] list;
}

int _get_device_descriptor(wfusb_device* device, wfusb_device_descriptor* out) {
  *out = _device(device)->descriptor;
  return WFUSB_SUCCESS;
}

int _get_config_descriptor(wfusb_device* device, uint8_t index, wfusb_config_descriptor* out) {
  if (index != 0) return WFUSB_ERROR_NOT_FOUND;  // simulated devices have one configuration
  *out = _device(device)->config;
  return WFUSB_SUCCESS;
}

int _open(wfusb_device* device, wfusb_handle** handle) {
  *handle = nullptr;
  const std::optional<std::string> path = vbus::socketPath();
  if (!path) return WFUSB_ERROR_NO_DEVICE;
  auto opened = std::make_unique<VbusHandle>();
  opened->id = _device(device)->id;
  opened->path = *path;
  if (!opened->control.connect(*path)) return WFUSB_ERROR_NO_DEVICE;
  std::optional<Reply> reply = opened->control.request(Type::Open, Writer().u32(opened->id).data());
  if (!reply) return WFUSB_ERROR_NO_DEVICE;
  if (reply->status != 0) return _result(reply->status);
  *handle = reinterpret_cast<wfusb_handle*>(opened.release());
  return WFUSB_SUCCESS;
}

// Ending the sessions ends the claim on the server too.
void _close(wfusb_handle* handle) { delete _handle(handle); }

int _get_string_descriptor_ascii(wfusb_handle* handle, uint8_t index, unsigned char* data, int length) {
  if (length <= 0) return WFUSB_ERROR_INVALID_PARAM;
  std::optional<Reply> reply = _handle(handle)->control.request(Type::String, Writer().u8(index).data());
  if (!reply) return WFUSB_ERROR_NO_DEVICE;
  if (reply->status < 0) return _result(reply->status);
  if (static_cast<size_t>(reply->status) != reply->payload.size()) return WFUSB_ERROR_IO;
  // Cut to the caller's room, terminated as libusb does.
  const size_t copied = std::min(reply->payload.size(), static_cast<size_t>(length - 1));
  if (copied > 0) memcpy(data, reply->payload.data(), copied);
  data[copied] = 0;
  return static_cast<int>(copied);
}

int _claim_interface(wfusb_handle* handle, int interfaceNumber) {
  VbusHandle* self = _handle(handle);
  if (interfaceNumber < 0 || interfaceNumber > 255) return WFUSB_ERROR_INVALID_PARAM;
  std::optional<Reply> reply =
      self->control.request(Type::Claim, Writer().u8(static_cast<uint8_t>(interfaceNumber)).data());
  if (!reply) return WFUSB_ERROR_NO_DEVICE;
  if (reply->status != 0) return _result(reply->status);
  Reader reader(reply->payload);
  uint32_t token = 0;
  if (!reader.u32(token)) return WFUSB_ERROR_IO;
  std::lock_guard<std::mutex> guard(self->inLock);
  self->claimToken = token;
  self->claimed = true;
  return WFUSB_SUCCESS;
}

int _release_interface(wfusb_handle* handle, int interfaceNumber) {
  VbusHandle* self = _handle(handle);
  if (interfaceNumber < 0 || interfaceNumber > 255) return WFUSB_ERROR_INVALID_PARAM;
  std::optional<Reply> reply =
      self->control.request(Type::Release, Writer().u8(static_cast<uint8_t>(interfaceNumber)).data());
  std::lock_guard<std::mutex> guard(self->inLock);
  // The IN session stays (another thread may be in a transfer on it); the
  // server refuses its transfers from now on, as the claim is gone.
  self->claimed = false;
  return reply ? _result(reply->status) : WFUSB_ERROR_NO_DEVICE;
}

// The session that carries IN transfers, bound to the claim on first use.
Session* _inSession(VbusHandle* self) {
  std::lock_guard<std::mutex> guard(self->inLock);
  if (self->in) return self->in.get();
  if (!self->claimed) return &self->control;  // the server refuses the transfer
  auto session = std::make_unique<Session>();
  if (!session->connect(self->path)) return nullptr;
  std::optional<Reply> reply = session->request(Type::Bind, Writer().u32(self->id).u32(self->claimToken).data());
  if (!reply || reply->status != 0) return nullptr;
  self->in = std::move(session);
  return self->in.get();
}

int _bulk_transfer(wfusb_handle* handle, uint8_t endpoint, unsigned char* data, int length, int* transferred,
                   unsigned int timeoutMs) {
  *transferred = 0;
  if (length < 0 || static_cast<uint32_t>(length) > vbus::kMaxPayload - 64) return WFUSB_ERROR_INVALID_PARAM;
  VbusHandle* self = _handle(handle);
  const bool in = (endpoint & 0x80) != 0;
  Session* session = in ? _inSession(self) : &self->control;
  if (session == nullptr) return WFUSB_ERROR_NO_DEVICE;
  Writer request;
  request.u8(endpoint).u32(static_cast<uint32_t>(length)).u32(timeoutMs);
  if (!in) request.bytes(data, static_cast<size_t>(length));
  const unsigned wait = std::min(timeoutMs, vbus::kLongestWaitMs) + vbus::kReplyMarginMs;
  std::optional<Reply> reply = session->request(Type::Bulk, request.data(), wait);
  if (!reply) return WFUSB_ERROR_NO_DEVICE;
  Reader reader(reply->payload);
  uint32_t moved = 0;
  const uint8_t* bytes = nullptr;
  if (!reader.u32(moved) || moved > static_cast<uint32_t>(length)) return WFUSB_ERROR_IO;
  if (in) {
    if (!reader.bytes(moved, bytes)) return WFUSB_ERROR_IO;
    if (moved > 0) memcpy(data, bytes, moved);
  }
  *transferred = static_cast<int>(moved);
  return _result(reply->status);
}

int _clear_halt(wfusb_handle* handle, uint8_t endpoint) {
  std::optional<Reply> reply = _handle(handle)->control.request(Type::ClearHalt, Writer().u8(endpoint).data());
  return reply ? _result(reply->status) : WFUSB_ERROR_NO_DEVICE;
}

}  // namespace

const wfusb_backend wfusb_vbus_backend = {
    "virtual",
    _get_device_list,
    _free_device_list,
    _get_device_descriptor,
    _get_config_descriptor,
    _open,
    _close,
    _get_string_descriptor_ascii,
    _claim_interface,
    _release_interface,
    _bulk_transfer,
    _clear_halt,
};
