// One entity of one module: its command code and index, and the typed UEI
// exchanges with it. The system entity, the I2C entity and the updater's
// upgrade entity derive from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/aError.h"
#include "common/aPacket.h"
#include "common/aUEI.h"

namespace Quorvant::Wrenfield {

class Module;

class EntityClass {
 public:
  EntityClass();
  virtual ~EntityClass();
  EntityClass(const EntityClass&) = delete;
  EntityClass& operator=(const EntityClass&) = delete;

  // Binds the entity (the module is not owned); nothing is sent.
  aErr init(Module* module, uint8_t command, uint8_t index);
  uint8_t getIndex() const;

  // Raw command packets to and from the entity's module.
  aErr sendPacket(uint8_t command, uint8_t length, const uint8_t* data);
  aErr receivePacket(const uint8_t* match, uint8_t* length, uint8_t* data);

  // Complete exchanges: the request, then the module's reply decoded into the
  // record. A module's error reply becomes the result.
  aErr getUEI(uint8_t option, uei* message);
  aErr setUEI(uint8_t option, uei* message);
  aErr setUEI(uint8_t option, uint8_t subindex, uei* message);
  aErr callUEI(uint8_t option);

  aErr setUEI8(uint8_t option, uint8_t value);
  aErr setUEI8(uint8_t option, uint8_t subindex, uint8_t value);
  aErr setUEI16(uint8_t option, uint16_t value);
  aErr setUEI16(uint8_t option, uint8_t subindex, uint16_t value);
  aErr setUEI32(uint8_t option, uint32_t value);
  aErr setUEI32(uint8_t option, uint8_t subindex, uint32_t value);

  // *out is written when the result is aErrNone or aErrStreamStale.
  aErr getUEI8(uint8_t option, uint8_t* out);
  aErr getUEI8(uint8_t option, uint8_t subindex, uint8_t* out);
  aErr getUEI16(uint8_t option, uint16_t* out);
  aErr getUEI16(uint8_t option, uint8_t subindex, uint16_t* out);
  aErr getUEI32(uint8_t option, uint32_t* out);
  aErr getUEI32(uint8_t option, uint8_t subindex, uint32_t* out);

  aErr setUEIBytes(uint8_t option, const uint8_t* data, size_t length);
  // Receives a byte string of at most `capacity` bytes; *received counts them.
  aErr getUEIBytes(uint8_t option, uint8_t* buffer, size_t capacity, size_t* received);
  static uint8_t getUEIBytesSequence(const aPacket* packet);
  static uint8_t getUEIBytesContinue(const aPacket* packet);
  // Turns a received byte count into a count of elements of `elementSize` bytes.
  static aErr getUEIBytesCheck(size_t* count, size_t elementSize);

  // Waits for a reply to this entity's option that nobody asked for (the
  // usual reply time-out applies; `timeout` is not used).
  aErr awaitUEI32Val(uint8_t option, uint32_t* out, uint32_t timeout);
  // Removes queued replies to this entity's option byte.
  aErr drainUEI(uint8_t option);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace Quorvant::Wrenfield
