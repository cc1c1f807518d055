// The I2C entity (command 0x08) of a router module: raw bus transfers to the
// modules on its I2C network.
#pragma once

#include <cstdint>
#include <memory>

#include "cpp/Entity.h"

namespace Quorvant::Wrenfield {

class I2CClass : public EntityClass {
 public:
  I2CClass();
  ~I2CClass() override;

  aErr init(Module* module, uint8_t index);
  // Bus speed codes 0 to 3, sent with every transfer.
  aErr setSpeed(uint8_t code);
  aErr getSpeed(uint8_t* code) const;

  // At most 23 bytes per transfer. The result is the bus status the router reports.
  aErr write(uint8_t address, uint8_t length, const uint8_t* bytes);
  aErr read(uint8_t address, uint8_t length, uint8_t* buffer);
  aErr setPullup(bool enable);

 private:
  // Sends the request [index, address, ...] and waits for its reply; then the
  // reply's status byte decides the result.
  aErr transfer(const uint8_t* request, uint8_t length, bool writeReply, uint8_t* reply, uint8_t* replyLength);

  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace Quorvant::Wrenfield
