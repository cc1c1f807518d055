#include "TcpTransport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace wfsim {

TcpTransport::TcpTransport(const TransportConfig& config, const std::string& serialText, LinkSide& link)
    : link_(link), serialText_(serialText), address_(config.address) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(config.port);
  if (inet_pton(AF_INET, config.address.c_str(), &local.sin_addr) != 1) {
    throw std::runtime_error("tcp: not an IPv4 address: " + config.address);
  }
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error(std::string("tcp: socket: ") + strerror(errno));
  int on = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(listener_, 8) != 0) {
    std::string reason = strerror(errno);
    close(listener_);
    throw std::runtime_error("tcp: cannot listen on " + config.address + ":" + std::to_string(config.port) + ": " +
                             reason);
  }
  socklen_t size = sizeof local;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &size);
  port_ = ntohs(local.sin_port);
}

TcpTransport::~TcpTransport() {
  connection_.reset();
  if (listener_ >= 0) close(listener_);
}

std::string TcpTransport::readyLine() const { return "tcp " + serialText_ + " " + address_ + ":" + std::to_string(port_); }

void TcpTransport::watch(Poller& poller) {
  poller.add(listener_, POLLIN, [this](short) { accept(); });
  if (connection_) {
    short events = POLLIN;
    if (connection_->blocked()) events |= POLLOUT;
    poller.add(connection_->fd(), events, [this](short revents) { readable(revents); });
  }
}

void TcpTransport::accept() {
  int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  int on = 1;
  // Replies are single small packets: send each at once.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  link_.note(*this, connection_ ? "connection replaced" : "connected");
  connection_ = std::make_unique<Connection>(fd);
  connection_->live = true;
}

void TcpTransport::readable(short revents) {
  if (!connection_) return;
  // Writable alone only wakes the loop, whose flush then writes.
  if ((revents & (POLLIN | POLLHUP | POLLERR)) == 0) return;
  uint8_t buffer[4096];
  ssize_t n = connection_->receive(buffer, sizeof buffer);
  if (n > 0) {
    link_.received(*this, *connection_, buffer, static_cast<size_t>(n));
    return;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  link_.note(*this, "host closed the connection");
  connection_.reset();
}

void TcpTransport::disconnect() {
  if (!connection_) return;
  link_.note(*this, "connection dropped");
  connection_.reset();
}

}  // namespace wfsim
