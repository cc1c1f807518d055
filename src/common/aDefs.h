// Product constants: the maker's model codes and their display names.
#pragma once

#include <cstdint>

// Display name of a model code, or "Unknown".
const char* aDefs_GetModelName(uint32_t model);
