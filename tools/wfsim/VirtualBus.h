// The virtual USB bus: wfsim serves it on a Unix-domain socket to processes
// that run with WRENFIELD_VIRTUAL_BUS set (protocol in
// src/common/vbus_protocol.h). It presents the simulated modules' USB ports
// and the simulated i.MX boot ROMs, attaches and detaches them, keeps claims
// exclusive across host processes, moves bulk data and reports, and carries
// its own fault switches (claims refused as busy, stalled endpoints).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BusDevice.h"
#include "Config.h"
#include "ModuleLink.h"
#include "PacketLog.h"
#include "Transport.h"

namespace wfsim {

class VirtualBus {
 public:
  // The bus the configuration asks for ("virtual_bus" or --virtual-bus, and
  // the modules' usb transports), or null when it asks for none. Throws
  // ConfigError or std::runtime_error when it cannot be served.
  static std::unique_ptr<VirtualBus> create(const SimConfig& config,
                                            const std::vector<std::unique_ptr<ModuleLink>>& links, PacketLog& log);
  VirtualBus(const std::string& socketPath, unsigned restartMs, PacketLog& log);
  ~VirtualBus();
  VirtualBus(const VirtualBus&) = delete;
  VirtualBus& operator=(const VirtualBus&) = delete;

  // Puts a device on the bus, attached. The bus keeps `owned` devices alive.
  void plug(BusDevice& device);
  void plug(std::unique_ptr<BusDevice> owned);

  std::string readyLine() const;
  void watch(Poller& poller);
  void tick(uint64_t now);

  // Control commands of the bus: lines starting with "usb".
  static bool isCommand(const std::string& line);
  std::vector<std::string> execute(const std::string& line);

  // The device leaves the bus now and comes back after the restart delay,
  // presenting `serial` (as a module restarting into its loader or rebooting
  // does). False when no device has that name.
  bool restart(const std::string& name, const std::string& serial);

 private:
  struct Slot;
  struct Session;

  void accept();
  void readable(Session& session);
  void serve(Session& session);  // handles the complete requests it can
  void handle(Session& session, uint8_t type, vbus::Reader& request);
  void reply(Session& session, uint8_t type, int32_t status, const std::vector<uint8_t>& data = {});
  bool complete(Session& session, uint64_t now);  // finishes a waiting request when it can
  void flush(Session& session);
  void endSession(Session& session);
  void attach(Slot& slot, const std::string& serial);
  void detach(Slot& slot);
  Slot* slotById(uint32_t id);
  Slot* slotByName(const std::string& name);
  void note(const Slot& slot, const std::string& text);

  void list(Session& session);
  void bulk(Session& session, vbus::Reader& request);

  std::string path_;
  unsigned restartMs_;
  PacketLog& log_;
  int listener_ = -1;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<std::unique_ptr<Session>> sessions_;
  uint32_t nextId_ = 1;
  uint32_t nextToken_ = 1;
  uint64_t nextSessionKey_ = 1;
};

}  // namespace wfsim
