// The system entity (command 0x03): identity, addressing, power and
// housekeeping of a module, one UEI exchange per member.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cpp/Entity.h"

namespace Quorvant::Wrenfield {

class SystemClass : public EntityClass {
 public:
  aErr init(Module* module, uint8_t index);

  aErr getModule(uint8_t* out);
  aErr setRouter(uint8_t value);
  aErr getRouter(uint8_t* out);
  aErr setHBInterval(uint8_t value);
  aErr getHBInterval(uint8_t* out);
  aErr setLED(uint8_t value);
  aErr getLED(uint8_t* out);
  aErr setBootSlot(uint8_t value);
  aErr getBootSlot(uint8_t* out);
  aErr getVersion(uint32_t* out);
  aErr getModel(uint8_t* out);
  aErr getSerialNumber(uint32_t* out);
  aErr save();
  aErr reset();
  aErr getInputVoltage(uint32_t* out);
  aErr getModuleHardwareOffset(uint8_t* out);
  aErr getModuleBaseAddress(uint8_t* out);
  aErr setModuleSoftwareOffset(uint8_t value);
  aErr getModuleSoftwareOffset(uint8_t* out);
  aErr getRouterAddressSetting(uint8_t* out);
  aErr routeToMe(uint8_t value);
  aErr getInputCurrent(uint32_t* out);
  aErr getUptime(uint32_t* out);
  aErr getMaximumTemperature(int32_t* out);
  aErr logEvents();
  aErr getUnregulatedVoltage(int32_t* out);
  aErr getUnregulatedCurrent(int32_t* out);
  aErr getTemperature(int32_t* out);
  aErr getMinimumTemperature(int32_t* out);
  aErr getInputPowerSource(uint8_t* out);
  aErr setInputPowerBehavior(uint8_t value);
  aErr getInputPowerBehavior(uint8_t* out);
  // The words travel as the bytes they are in memory.
  aErr setInputPowerBehaviorConfig(const uint32_t* words, size_t count);
  aErr getInputPowerBehaviorConfig(uint32_t* words, size_t capacity, size_t* count);
  aErr setName(const uint8_t* bytes, size_t length);
  aErr getName(uint8_t* buffer, size_t capacity, size_t* length);
  aErr getPowerLimit(uint32_t* out);
  aErr setPowerLimitMax(uint32_t value);
  aErr getPowerLimitMax(uint32_t* out);
  aErr getPowerLimitState(uint32_t* out);
  aErr resetEntityToFactoryDefaults();
  aErr resetDeviceToFactoryDefaults();
  aErr setLinkInterface(uint8_t value);
  aErr getLinkInterface(uint8_t* out);
  aErr getHardwareVersion(uint32_t* out);
  aErr getErrors(uint32_t* out);
  aErr setLEDMaxBrightness(uint8_t value);
  aErr getLEDMaxBrightness(uint8_t* out);
  aErr getBuild(uint32_t* out);
  // Bit 31: the module takes pooled packets.
  aErr getProtocolFeatures(uint32_t* out);

 private:
  aErr getSigned(uint8_t option, int32_t* out);
};

}  // namespace Quorvant::Wrenfield
