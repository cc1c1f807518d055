// One simulated module: its identity and the personalities that answer the
// packets addressed to it. Each personality lives in its own file and
// answers the packets it knows; the first that takes a packet ends the
// search.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Catalog.h"
#include "Config.h"
#include "Packet.h"

namespace wfsim {

class Personality {
 public:
  virtual ~Personality() = default;
  // True when the packet was this personality's; its answers go to `replies`.
  virtual bool handle(const Packet& request, std::vector<Packet>& replies) = 0;
};

// What the host did to a module, for the control commands and the log.
struct ModuleJournal {
  std::vector<std::string> sets;  // "OPTION=VALUE" of every accepted set and call, in order
  std::vector<uint8_t> routeToMe;  // every value set on route-to-me
  std::vector<uint8_t> probed;  // the address of every I2C write on its bus
  std::vector<uint8_t> pullups;  // every pull-up setting of its bus
  std::vector<std::string> notes;  // events not yet written to the log
};

class SimModule {
 public:
  explicit SimModule(ModuleConfig config);
  ~SimModule();
  const ModuleConfig& config() const { return config_; }
  const std::string& serialText() const { return serialText_; }
  uint8_t address() const { return config_.address; }
  ModuleJournal& journal() { return journal_; }
  // False when no personality took the packet.
  bool handle(const Packet& request, std::vector<Packet>& replies);

 private:
  ModuleConfig config_;
  std::string serialText_;
  ModuleJournal journal_;
  UeiCatalog catalog_;
  std::vector<std::unique_ptr<Personality>> personalities_;
};

}  // namespace wfsim
