// What a module offers, as its module-information answers tell it: the
// entity classes with their instance counts, and the options of each class
// with the requests (get, set or call) they accept.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "common/aError.h"

namespace wfsim {

class UeiCatalog {
 public:
  enum Access : unsigned { kGet = 1, kSet = 2, kAny = kGet | kSet };  // a call counts as a set

  // Adds an entity class with `count` instances (a class seen again keeps the larger count).
  void addClass(uint8_t command, uint8_t count);
  void addOption(uint8_t command, uint8_t option, unsigned access);
  // The description's "entities": [{"command": C, "count": N, "options": [O, ...]}, ...];
  // throws ConfigError naming `field`.
  void addDescribed(const nlohmann::json& entities, const std::string& field);

  // 0 when the entity has the option and accepts the request the flags name
  // (UEI_GET, UEI_SET or neither); else why not.
  aErr check(uint8_t command, uint8_t option, uint8_t index, uint8_t flags) const;
  uint8_t count(uint8_t command) const;

 private:
  struct EntityClass {
    uint8_t count = 0;
    std::map<uint8_t, unsigned> options;
  };
  std::map<uint8_t, EntityClass> classes_;
};

}  // namespace wfsim
