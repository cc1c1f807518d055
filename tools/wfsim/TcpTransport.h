// A module on TCP/IP: a listening socket; the latest connection carries the
// packet byte stream (a new connection replaces the old one, as a module
// with a single link does).
#pragma once

#include <memory>
#include <string>

#include "Config.h"
#include "Transport.h"

namespace wfsim {

class TcpTransport : public Transport {
 public:
  // Throws std::runtime_error when the address cannot be bound.
  TcpTransport(const TransportConfig& config, const std::string& serialText, LinkSide& link);
  ~TcpTransport() override;

  std::string readyLine() const override;
  uint16_t port() const { return port_; }
  const char* kind() const override { return "tcp"; }
  void watch(Poller& poller) override;
  Connection* connection() override { return connection_.get(); }
  void disconnect() override;

 private:
  void accept();
  void readable(short revents);

  LinkSide& link_;
  std::string serialText_;
  std::string address_;
  uint16_t port_ = 0;
  int listener_ = -1;
  std::unique_ptr<Connection> connection_;
};

}  // namespace wfsim
