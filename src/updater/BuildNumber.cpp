#include "updater/BuildNumber.h"

#include <charconv>

#include "app/Log.h"

std::optional<unsigned int> _parse_build(const std::string& text) {
  unsigned int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

unsigned int _build_or_zero(const std::string& text) {
  const std::optional<unsigned int> value = _parse_build(text);
  if (!value) Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", text.c_str());
  return value.value_or(0);
}
