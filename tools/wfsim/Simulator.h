// The simulator's single event loop: the modules' transports, their timers
// and the control commands on standard input, all on one thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Config.h"
#include "Control.h"
#include "ModuleLink.h"
#include "PacketLog.h"
#include "VirtualBus.h"

namespace wfsim {

class Simulator {
 public:
  // Throws when a transport cannot be set up.
  Simulator(const SimConfig& config, PacketLog& log);
  // Prints the transport lines and "ready", then serves until "quit", a
  // termination signal, or a failure of poll. Returns the exit status.
  int run();

 private:
  void readControl();

  std::vector<std::unique_ptr<ModuleLink>> links_;
  std::unique_ptr<VirtualBus> bus_;  // null when no virtual USB bus is served
  Control control_;
  bool controlOpen_ = true;
  std::string controlBuffer_;
};

}  // namespace wfsim
