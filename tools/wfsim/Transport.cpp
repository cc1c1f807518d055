#include "Transport.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace wfsim {

namespace {
// Bytes a host that does not read may leave waiting; older bytes go first.
constexpr size_t kMaxPendingBytes = 64 * 1024;
}  // namespace

void Poller::add(int fd, short events, Handler handler) { entries_.push_back({fd, events, std::move(handler)}); }

void Poller::wakeAt(uint64_t ms) { wake_ = wake_ ? std::min(*wake_, ms) : ms; }

bool Poller::run(uint64_t now, int capMs) {
  std::vector<pollfd> fds;
  fds.reserve(entries_.size());
  for (const Entry& entry : entries_) fds.push_back({entry.fd, entry.events, 0});
  int timeout = capMs;
  if (wake_) timeout = static_cast<int>(std::min<uint64_t>(*wake_ > now ? *wake_ - now : 0, capMs));
  int ready = poll(fds.data(), fds.size(), timeout);
  if (ready < 0) return errno == EINTR;
  for (size_t i = 0; i < fds.size() && ready > 0; ++i) {
    if (fds[i].revents != 0) entries_[i].handler(fds[i].revents);
  }
  return true;
}

Connection::Connection(int fd) : fd_(fd) {}

Connection::~Connection() {
  if (fd_ >= 0) close(fd_);
}

void Connection::send(const std::vector<uint8_t>& bytes, uint64_t dueMs) {
  if (bytes.empty()) return;
  if (!pending_.empty()) dueMs = std::max(dueMs, pending_.back().due);
  pending_.push_back({dueMs, bytes});
  pendingBytes_ += bytes.size();
  while (pendingBytes_ > kMaxPendingBytes && pending_.size() > 1) {
    pendingBytes_ -= pending_.front().bytes.size();
    pending_.pop_front();
  }
}

bool Connection::flush(uint64_t now) {
  blocked_ = false;
  while (!pending_.empty() && pending_.front().due <= now) {
    std::vector<uint8_t>& bytes = pending_.front().bytes;
    ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        blocked_ = true;
        return true;
      }
      return false;
    }
    pendingBytes_ -= static_cast<size_t>(n);
    if (static_cast<size_t>(n) < bytes.size()) {
      bytes.erase(bytes.begin(), bytes.begin() + n);
      blocked_ = true;
      return true;
    }
    pending_.pop_front();
  }
  return true;
}

std::optional<uint64_t> Connection::nextDue() const {
  if (pending_.empty()) return std::nullopt;
  return pending_.front().due;
}

ssize_t Connection::receive(uint8_t* buffer, size_t size) { return read(fd_, buffer, size); }

}  // namespace wfsim
