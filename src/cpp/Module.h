// One module: its Link, its module address (given, or learned from the link
// after each connect while the networking mode is on), and the module
// information queries.
#pragma once

#include <cstdint>
#include <memory>

#include "common/aError.h"
#include "common/aLink.h"
#include "common/discover.h"
#include "cpp/Link.h"

namespace Quorvant::Wrenfield {

class Module {
 public:
  // The networking mode is on: the module address is learned after a connect.
  explicit Module(uint8_t address, uint8_t model = 0);
  Module(uint8_t address, bool networkingMode, uint8_t model);
  virtual ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // Connects by serial number (not 0) found on the transport.
  aErr connect(linkType transport, uint32_t serialNumber);
  // Serial number 0 takes the first module of this module's model (0: any).
  aErr discoverAndConnect(linkType transport, uint32_t serialNumber);
  aErr connectFromSpec(const linkSpec& spec);
  // Reaches this module through a router module's link; the address set on
  // this module (its address on the router's I2C network) stays.
  aErr connectThroughLinkModule(Module* router);
  aErr reconnect();
  aErr disconnect();
  bool isConnected() const;
  aLinkStatus getStatus() const;

  uint8_t getModuleAddress() const;
  void setModuleAddress(uint8_t address);
  aErr getLinkSpecifier(linkSpec* spec) const;
  aErr getConfig(aShareConfig* config) const;
  aErr setConfig(const aShareConfig& config);
  Link* getLink() const;
  void setNetworkingMode(bool mode);
  // Learns the module address from the link when the networking mode is on.
  aErr _autoNetwork();

  aErr getBuild(uint32_t* build);
  // aErrNone when the module offers the UEI; flags may be UEI_GET or UEI_SET.
  aErr hasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t flags);
  aErr classQuantity(uint8_t entityClass, uint8_t* count);
  aErr subClassQuantity(uint8_t entityClass, uint8_t subclass, uint8_t* count);
  aErr entityGroup(uint8_t entityClass, uint8_t entity, uint8_t* group);
  // Sends `data` to the module's echo and checks what comes back.
  aErr debug(const uint8_t* data, uint8_t length);

  aErr enablePacketLog(const char* fileName);
  aErr disablePacketLog();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace Quorvant::Wrenfield
