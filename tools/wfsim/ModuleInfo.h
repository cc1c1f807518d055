// The module-information queries (command 0x49): the build number, whether
// the module has a UEI, how many entities of a class it has, subclass
// counts and entity groups; and the debug echo (command 0x17), which sends
// the request back as it came.
#pragma once

#include "Catalog.h"
#include "SimModule.h"

namespace wfsim {

class ModuleInfo : public Personality {
 public:
  ModuleInfo(const ModuleConfig& config, const UeiCatalog& catalog)
      : address_(config.address), build_(config.build), catalog_(catalog) {}
  bool handle(const Packet& request, std::vector<Packet>& replies) override;

 private:
  uint8_t address_;
  uint32_t build_;
  const UeiCatalog& catalog_;
};

}  // namespace wfsim
