#include "Catalog.h"

#include <algorithm>

#include "Config.h"
#include "Uei.h"

namespace wfsim {

void UeiCatalog::addClass(uint8_t command, uint8_t count) {
  EntityClass& entity = classes_[command];
  entity.count = std::max(entity.count, count);
}

void UeiCatalog::addOption(uint8_t command, uint8_t option, unsigned access) {
  classes_[command].options[option] |= access;
}

void UeiCatalog::addDescribed(const nlohmann::json& entities, const std::string& field) {
  auto number = [](const nlohmann::json& value, const std::string& name, unsigned max) {
    if (!value.is_number_unsigned() || value.get<unsigned>() > max) {
      throw ConfigError(name + ": expected an integer from 0 to " + std::to_string(max));
    }
    return static_cast<uint8_t>(value.get<unsigned>());
  };
  for (size_t i = 0; i < entities.size(); ++i) {
    const nlohmann::json& entity = entities[i];
    const std::string name = field + "[" + std::to_string(i) + "]";
    if (!entity.is_object() || !entity.contains("command")) throw ConfigError(name + ": expected {\"command\": ...}");
    const uint8_t command = number(entity["command"], name + ".command", 255);
    addClass(command, entity.contains("count") ? number(entity["count"], name + ".count", kUeiIndexMask + 1) : 1);
    if (!entity.contains("options")) continue;
    if (!entity["options"].is_array()) throw ConfigError(name + ".options: expected a list");
    for (const nlohmann::json& option : entity["options"]) {
      addOption(command, number(option, name + ".options", kUeiOptionMask), kAny);
    }
  }
}

aErr UeiCatalog::check(uint8_t command, uint8_t option, uint8_t index, uint8_t flags) const {
  auto entity = classes_.find(command);
  if (entity == classes_.end() || index >= entity->second.count) return aErrInvalidEntity;
  auto offered = entity->second.options.find(option);
  if (offered == entity->second.options.end()) return aErrInvalidOption;
  switch (flags) {
    case 0:
      return aErrNone;
    case kUeiGet:
      return (offered->second & kGet) != 0 ? aErrNone : aErrPermission;
    case kUeiSet:
      return (offered->second & kSet) != 0 ? aErrNone : aErrPermission;
    default:
      return aErrParam;
  }
}

uint8_t UeiCatalog::count(uint8_t command) const {
  auto entity = classes_.find(command);
  return entity == classes_.end() ? 0 : entity->second.count;
}

}  // namespace wfsim
