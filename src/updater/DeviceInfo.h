// One discovered module, as the -D listing shows it.
#pragma once

#include <cstdint>
#include <string>

#include "common/aError.h"
#include "common/discover.h"

struct DeviceInfo {
  linkSpec spec{};  // as discovery reported it; version queries fill its addresses
  uint16_t address = 0;  // behind a router: the I2C address the module answered at
  uint32_t build = 0;
  uint8_t major = 0;
  uint8_t minor = 0;
  uint32_t patch = 0;
  std::string modelName;
  aErr error = aErrNone;  // the first error met while querying the module
};
