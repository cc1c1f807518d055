#include "PtyTransport.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace wfsim {

PtyTransport::PtyTransport(const TransportConfig& config, const std::string& serialText, LinkSide& link)
    : link_(link),
      serialText_(serialText),
      kind_(config.kind == TransportConfig::Kind::UsbNode ? "usb-node" : "serial"),
      linkPath_(config.link) {
  open();
}

PtyTransport::~PtyTransport() {
  connection_.reset();
  if (slave_ >= 0) close(slave_);
  if (!linkPath_.empty()) unlink(linkPath_.c_str());
}

void PtyTransport::open() {
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    throw std::runtime_error(std::string("pty: ") + strerror(errno));
  }
  termios raw{};
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  path_ = ttyname(slave);
  slave_ = slave;
  connection_ = std::make_unique<Connection>(master);
  if (!linkPath_.empty()) {
    // Only a symlink (ours, from an earlier run or terminal) is replaced.
    struct stat info {};
    if (lstat(linkPath_.c_str(), &info) == 0) {
      if (!S_ISLNK(info.st_mode)) throw std::runtime_error("pty: " + linkPath_ + " exists and is not a symlink");
      unlink(linkPath_.c_str());
    }
    if (symlink(path_.c_str(), linkPath_.c_str()) != 0) {
      throw std::runtime_error("pty: cannot link " + linkPath_ + ": " + strerror(errno));
    }
  }
}

std::string PtyTransport::readyLine() const { return "pty " + serialText_ + " " + path_; }

void PtyTransport::watch(Poller& poller) {
  if (!connection_) return;
  short events = POLLIN;
  if (connection_->blocked()) events |= POLLOUT;
  poller.add(connection_->fd(), events, [this](short revents) { readable(revents); });
}

void PtyTransport::readable(short revents) {
  if ((revents & POLLIN) == 0) return;
  uint8_t buffer[4096];
  ssize_t n = connection_->receive(buffer, sizeof buffer);
  if (n <= 0) return;  // the simulator's own hold on the terminal keeps the line up
  if (!connection_->live) link_.note(*this, "host opened the line");
  connection_->live = true;
  link_.received(*this, *connection_, buffer, static_cast<size_t>(n));
}

void PtyTransport::disconnect() {
  link_.note(*this, "line hung up");
  connection_.reset();
  close(slave_);
  slave_ = -1;
  open();
}

}  // namespace wfsim
