// The I2C entity (command 0x08, index 0) of a router: raw exchanges on the
// bus its sub-modules sit on. A write to an address where a sub-module sits
// succeeds; elsewhere nobody acknowledges and the status says so. A read
// hands back the bytes last written to that sub-module. Every write address
// and pull-up setting is recorded in the router's journal.
#pragma once

#include <map>
#include <set>
#include <vector>

#include "Catalog.h"
#include "SimModule.h"

namespace wfsim {

class I2cBus : public Personality {
 public:
  I2cBus(const ModuleConfig& config, ModuleJournal& journal, UeiCatalog& catalog);
  bool handle(const Packet& request, std::vector<Packet>& replies) override;

 private:
  // The status byte: 0, or bit 7 with an error code.
  uint8_t write(uint8_t address, const std::vector<uint8_t>& bytes);
  uint8_t read(uint8_t address, size_t length, std::vector<uint8_t>& bytes) const;

  uint8_t address_;
  std::set<uint8_t> present_;  // sub-module addresses (even)
  std::map<uint8_t, std::vector<uint8_t>> written_;  // the last bytes written to each
  ModuleJournal& journal_;
};

}  // namespace wfsim
