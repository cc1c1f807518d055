// Writes bird files from a JSON description of their blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace birdtool {

// Builds the whole file (header and compressed body) that `descriptionPath`
// describes. Throws std::runtime_error with a message naming the problem.
std::vector<uint8_t> PackDescription(const std::string& descriptionPath);

}  // namespace birdtool
