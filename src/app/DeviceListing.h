// The -D listing, on standard output.
#pragma once

#include <cstdint>
#include <vector>

#include "updater/DeviceInfo.h"

class UpdaterDisplayInterface;

void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& devices,
                          uint32_t linkType);
