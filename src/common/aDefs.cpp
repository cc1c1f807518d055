#include "common/aDefs.h"

#include <array>

namespace {

// Index = model code. No name is a prefix of another, so a model check on
// names can never accept a sibling's firmware.
constexpr std::array<const char*, 18> kModelNames{
    nullptr,      "BridgeA",   "BridgeB",    "IOModule",   "HubFour",   "HubEight",
    "HubTypeC",   "SwitchDual", "SwitchQuad", "PowerIO",    "RelayBank", "DAQSixteen",
    "RouterI2C",  "RouterNet", "NetIO",      "HubPro",     "TypeCSwitch", "ServoCtl",
};

}  // namespace

const char* aDefs_GetModelName(uint32_t model) {
  if (model == 0 || model >= kModelNames.size()) return "Unknown";
  return kModelNames[model];
}
