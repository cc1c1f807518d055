// One discovery run: offers each module once and counts what the callback counted.
#pragma once

#include <cstdint>
#include <set>

#include "common/discover.h"

inline uint32_t readLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

inline void writeLE32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// One run's memory of the modules already offered, and the count.
class DiscoveryRun final {
 public:
  DiscoveryRun(aDiscoveryCallback callback, void* reference) : callback_(callback), reference_(reference) {}

  bool seen(uint32_t serialNumber) const { return offered_.count(serialNumber) != 0; }

  // Offers the specifier; false when the callback asked to stop.
  bool offer(const linkSpec& spec) {
    offered_.insert(spec.serialNumber);
    bool counted = false;
    const bool goOn = callback_(&spec, &counted, reference_);
    if (counted && count_ < 255) ++count_;
    stopped_ = !goOn;
    return goOn;
  }

  bool stopped() const { return stopped_; }
  uint8_t count() const { return count_; }

 private:
  aDiscoveryCallback callback_;
  void* reference_;
  std::set<uint32_t> offered_;
  uint8_t count_ = 0;
  bool stopped_ = false;
};

