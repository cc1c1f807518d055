// Sessions with the virtual bus server: non-blocking socket, every wait
// bounded by a deadline, every reply checked against the protocol.
#include "common/vbus_client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "common/aDebug.h"

namespace vbus {

namespace {

uint64_t _nowMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

// Waits for `events` until the deadline; false on time-out or failure.
bool _await(int fd, short events, uint64_t deadline) {
  for (;;) {
    const uint64_t now = _nowMs();
    if (now >= deadline) return false;
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, static_cast<int>(deadline - now));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

std::optional<std::string> socketPath() {
  const char* path = getenv(kEnvironmentVariable);
  if (path == nullptr || *path == '\0') return std::nullopt;
  return std::string(path);
}

Session::~Session() {
  std::lock_guard<std::mutex> guard(lock_);
  closeLocked();
}

void Session::closeLocked() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool Session::connect(const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  closeLocked();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  // A Unix socket connects at once or not at all; a server whose backlog is
  // full makes it EAGAIN, which counts as an absent server.
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    aDebug_Print(aDEBUG_USB, "virtual bus: cannot connect to %s: %d\n", path.c_str(), errno);
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool Session::sendAll(const std::vector<uint8_t>& bytes, uint64_t deadline) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!_await(fd_, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool Session::receiveAll(uint8_t* data, size_t length, uint64_t deadline) {
  size_t got = 0;
  while (got < length) {
    const ssize_t n = recv(fd_, data + got, length - got, 0);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!_await(fd_, POLLIN, deadline)) return false;
    } else {
      return false;  // the server closed the session or failed
    }
  }
  return true;
}

std::optional<Reply> Session::request(Type type, const std::vector<uint8_t>& payload, unsigned waitMs) {
  std::lock_guard<std::mutex> guard(lock_);
  if (fd_ < 0) return std::nullopt;
  const uint64_t deadline = _nowMs() + waitMs;
  uint8_t header[kHeaderSize];
  std::optional<Header> parsed;
  std::vector<uint8_t> body;
  Reply reply;
  bool ok = sendAll(frame(static_cast<uint8_t>(type), payload), deadline) &&
            receiveAll(header, sizeof header, deadline) && (parsed = parseHeader(header)).has_value() &&
            parsed->type == (static_cast<uint8_t>(type) | kReplyBit) && parsed->length >= 4;
  if (ok) {
    body.resize(parsed->length);
    Reader reader(body);
    ok = receiveAll(body.data(), body.size(), deadline) && reader.i32(reply.status);
    reply.payload.assign(body.begin() + 4, body.end());
  }
  if (!ok) {
    aDebug_Print(aDEBUG_USB, "virtual bus: request 0x%02X failed\n", static_cast<unsigned>(type));
    closeLocked();
    return std::nullopt;
  }
  return reply;
}

}  // namespace vbus
