// The system entity (command 0x03, index 0): the module's identity and
// settings as UEI options. Gets answer the value in its kind's size, sets
// and calls are recorded in the module's journal and logged, byte strings
// (the name, the power-behaviour words) travel in runs both ways.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "Catalog.h"
#include "SimModule.h"
#include "Uei.h"

namespace wfsim {

class SystemEntity : public Personality {
 public:
  // Values come from the module's identity and its description's "system"
  // object (option number → value, or null to leave the option out).
  // Throws ConfigError for a value that does not suit its option.
  SystemEntity(const ModuleConfig& config, ModuleJournal& journal, UeiCatalog& catalog);
  bool handle(const Packet& request, std::vector<Packet>& replies) override;

  enum class Kind { Byte, Int, Bytes, Call, Indexed };  // Indexed: 32-bit words chosen by a subindex

 private:
  struct Option {
    Kind kind;
    bool settable;
    uint32_t value = 0;
    std::vector<uint8_t> bytes;  // Bytes
    std::vector<uint32_t> words;  // Indexed
  };
  std::vector<Packet> get(const UeiRequest& request, const Option& option) const;
  std::vector<Packet> set(const UeiRequest& request, Option& option);
  void record(uint8_t option, const std::string& value);
  // Applies the description's "system" object.
  void configure(const nlohmann::json& settings, const std::string& field);

  uint8_t address_;
  ModuleJournal& journal_;
  std::map<uint8_t, Option> options_;
  std::map<uint8_t, ByteStringReceiver> runs_;  // byte-string sets in progress, by option
};

}  // namespace wfsim
