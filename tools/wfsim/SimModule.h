// One simulated module: its identity and the personalities that answer the
// packets addressed to it. Each personality lives in its own file and
// answers the packets it knows; the first that takes a packet ends the
// search.
#pragma once

#include <memory>
#include <vector>

#include "Config.h"
#include "Packet.h"

namespace wfsim {

class Personality {
 public:
  virtual ~Personality() = default;
  // True when the packet was this personality's; its answers go to `replies`.
  virtual bool handle(const Packet& request, std::vector<Packet>& replies) = 0;
};

class SimModule {
 public:
  explicit SimModule(ModuleConfig config);
  const ModuleConfig& config() const { return config_; }
  const std::string& serialText() const { return serialText_; }
  uint8_t address() const { return config_.address; }
  // False when no personality took the packet.
  bool handle(const Packet& request, std::vector<Packet>& replies);

 private:
  ModuleConfig config_;
  std::string serialText_;
  std::vector<std::unique_ptr<Personality>> personalities_;
};

}  // namespace wfsim
