// A module behind a pseudo-terminal: either a serial line, or the device
// node that the kernel driver would make for a USB module. The host opens
// the terminal's path (or the symlink made to it); the simulator keeps the
// master side, and also holds the terminal side open in raw mode so the line
// keeps its settings while no host has it open.
#pragma once

#include <memory>
#include <string>

#include "Config.h"
#include "Transport.h"

namespace wfsim {

class PtyTransport : public Transport {
 public:
  // Throws std::runtime_error when no terminal can be made or linked.
  PtyTransport(const TransportConfig& config, const std::string& serialText, LinkSide& link);
  ~PtyTransport() override;

  std::string readyLine() const override;
  const char* kind() const override { return kind_; }
  void watch(Poller& poller) override;
  Connection* connection() override { return connection_.get(); }
  // Hangs the line up and offers a fresh terminal (the link, if any, moves
  // with it); readyLine() then names the new path.
  void disconnect() override;

 private:
  void open();
  void readable(short revents);

  LinkSide& link_;
  std::string serialText_;
  const char* kind_;
  std::string linkPath_;
  std::string path_;
  int slave_ = -1;
  std::unique_ptr<Connection> connection_;
};

}  // namespace wfsim
