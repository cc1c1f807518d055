// The client side of the virtual bus (protocol in vbus_protocol.h): one
// session is one connection to the bus server. The virtual USB and HID
// backends build on it.
//
// The environment variable WRENFIELD_VIRTUAL_BUS, holding the path of the
// server's Unix-domain socket, puts the whole process on the virtual bus.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/vbus_protocol.h"

namespace vbus {

constexpr const char* kEnvironmentVariable = "WRENFIELD_VIRTUAL_BUS";
// Connecting and every request other than a transfer wait this long at most.
constexpr unsigned kRequestWaitMs = 2000;

// The socket path when the process is in simulation mode.
std::optional<std::string> socketPath();

struct Reply {
  int32_t status = 0;
  std::vector<uint8_t> payload;  // what follows the status
};

class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Connects to the server at `path`; false when nobody serves it there.
  bool connect(const std::string& path);
  // One request and its reply. Nothing when the server is gone, silent for
  // longer than `waitMs`, or answers out of protocol; the session is then
  // closed and every later request fails at once. Requests from several
  // threads are served one after the other.
  std::optional<Reply> request(Type type, const std::vector<uint8_t>& payload, unsigned waitMs = kRequestWaitMs);

 private:
  bool sendAll(const std::vector<uint8_t>& bytes, uint64_t deadline);
  bool receiveAll(uint8_t* data, size_t length, uint64_t deadline);
  void closeLocked();

  std::mutex lock_;
  int fd_ = -1;
};

}  // namespace vbus
