// A test aid, not a behaviour of real modules: packets whose command byte
// (data byte 0) is the configured echo command come back unchanged, so a
// test or benchmark can time and check round trips through a link.
#pragma once

#include "SimModule.h"

namespace wfsim {

class Echo : public Personality {
 public:
  explicit Echo(uint8_t command) : command_(command) {}
  bool handle(const Packet& request, std::vector<Packet>& replies) override {
    if (request.data.empty() || request.data[0] != command_) return false;
    replies.push_back(request);
    return true;
  }

 private:
  uint8_t command_;
};

}  // namespace wfsim
