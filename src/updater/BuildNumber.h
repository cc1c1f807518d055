// Build numbers travel as decimal text: on the command line, in the server's
// answers and in the store's file names.
#pragma once

#include <optional>
#include <string>

// The number when the whole text is a decimal number that fits 32 bits.
std::optional<unsigned int> _parse_build(const std::string& text);

// Like _parse_build, but a text that is not a number is logged and read as 0.
unsigned int _build_or_zero(const std::string& text);
