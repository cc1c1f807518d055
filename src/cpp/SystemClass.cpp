#include "cpp/SystemClass.h"

#include <limits>

namespace Quorvant::Wrenfield {

namespace {

// Options of the system entity.
enum : uint8_t {
  systemModule = 1,
  systemRouter = 2,
  systemHBInterval = 3,
  systemLED = 4,
  systemBootSlot = 6,
  systemVersion = 7,
  systemModel = 8,
  systemSerialNumber = 9,
  systemSave = 10,
  systemReset = 11,
  systemInputVoltage = 12,
  systemModuleHardwareOffset = 13,
  systemModuleBaseAddress = 14,
  systemModuleSoftwareOffset = 15,
  systemRouterAddressSetting = 16,
  systemRouteToMe = 20,
  systemInputCurrent = 21,
  systemUptime = 22,
  systemMaximumTemperature = 23,
  systemLogEvents = 24,
  systemUnregulatedVoltage = 25,
  systemUnregulatedCurrent = 26,
  systemTemperature = 27,
  systemMinimumTemperature = 28,
  systemInputPowerSource = 29,
  systemInputPowerBehavior = 30,
  systemInputPowerBehaviorConfig = 31,
  systemName = 32,
  systemPowerLimit = 33,
  systemPowerLimitMax = 34,
  systemPowerLimitState = 35,
  systemResetEntityToFactoryDefaults = 36,
  systemResetDeviceToFactoryDefaults = 37,
  systemLinkInterface = 38,
  systemHardwareVersion = 40,
  systemErrors = 41,
  systemLEDMaxBrightness = 42,
  systemBuild = 43,
  systemProtocolFeatures = 45,
};

constexpr size_t kWordSize = sizeof(uint32_t);

}  // namespace

aErr SystemClass::init(Module* module, uint8_t index) {
  return EntityClass::init(module, cmdSYSTEMENTITY, index);
}

aErr SystemClass::getSigned(uint8_t option, int32_t* out) {
  if (out == nullptr) return aErrParam;
  uint32_t value = 0;
  const aErr result = getUEI32(option, &value);
  if (result == aErrNone || result == aErrStreamStale) *out = static_cast<int32_t>(value);
  return result;
}

aErr SystemClass::getModule(uint8_t* out) { return getUEI8(systemModule, out); }
aErr SystemClass::setRouter(uint8_t value) { return setUEI8(systemRouter, value); }
aErr SystemClass::getRouter(uint8_t* out) { return getUEI8(systemRouter, out); }
aErr SystemClass::setHBInterval(uint8_t value) { return setUEI8(systemHBInterval, value); }
aErr SystemClass::getHBInterval(uint8_t* out) { return getUEI8(systemHBInterval, out); }
aErr SystemClass::setLED(uint8_t value) { return setUEI8(systemLED, value); }
aErr SystemClass::getLED(uint8_t* out) { return getUEI8(systemLED, out); }
aErr SystemClass::setBootSlot(uint8_t value) { return setUEI8(systemBootSlot, value); }
aErr SystemClass::getBootSlot(uint8_t* out) { return getUEI8(systemBootSlot, out); }
aErr SystemClass::getVersion(uint32_t* out) { return getUEI32(systemVersion, out); }
aErr SystemClass::getModel(uint8_t* out) { return getUEI8(systemModel, out); }
aErr SystemClass::getSerialNumber(uint32_t* out) { return getUEI32(systemSerialNumber, out); }
aErr SystemClass::save() { return callUEI(systemSave); }
aErr SystemClass::reset() { return callUEI(systemReset); }
aErr SystemClass::getInputVoltage(uint32_t* out) { return getUEI32(systemInputVoltage, out); }
aErr SystemClass::getModuleHardwareOffset(uint8_t* out) { return getUEI8(systemModuleHardwareOffset, out); }
aErr SystemClass::getModuleBaseAddress(uint8_t* out) { return getUEI8(systemModuleBaseAddress, out); }
aErr SystemClass::setModuleSoftwareOffset(uint8_t value) { return setUEI8(systemModuleSoftwareOffset, value); }
aErr SystemClass::getModuleSoftwareOffset(uint8_t* out) { return getUEI8(systemModuleSoftwareOffset, out); }
aErr SystemClass::getRouterAddressSetting(uint8_t* out) { return getUEI8(systemRouterAddressSetting, out); }
aErr SystemClass::routeToMe(uint8_t value) { return setUEI8(systemRouteToMe, value); }
aErr SystemClass::getInputCurrent(uint32_t* out) { return getUEI32(systemInputCurrent, out); }
aErr SystemClass::getUptime(uint32_t* out) { return getUEI32(systemUptime, out); }
aErr SystemClass::getMaximumTemperature(int32_t* out) { return getSigned(systemMaximumTemperature, out); }
aErr SystemClass::logEvents() { return callUEI(systemLogEvents); }
aErr SystemClass::getUnregulatedVoltage(int32_t* out) { return getSigned(systemUnregulatedVoltage, out); }
aErr SystemClass::getUnregulatedCurrent(int32_t* out) { return getSigned(systemUnregulatedCurrent, out); }
aErr SystemClass::getTemperature(int32_t* out) { return getSigned(systemTemperature, out); }
aErr SystemClass::getMinimumTemperature(int32_t* out) { return getSigned(systemMinimumTemperature, out); }
aErr SystemClass::getInputPowerSource(uint8_t* out) { return getUEI8(systemInputPowerSource, out); }
aErr SystemClass::setInputPowerBehavior(uint8_t value) { return setUEI8(systemInputPowerBehavior, value); }
aErr SystemClass::getInputPowerBehavior(uint8_t* out) { return getUEI8(systemInputPowerBehavior, out); }

aErr SystemClass::setInputPowerBehaviorConfig(const uint32_t* words, size_t count) {
  if (count > std::numeric_limits<size_t>::max() / kWordSize) return aErrParam;
  return setUEIBytes(systemInputPowerBehaviorConfig, reinterpret_cast<const uint8_t*>(words), count * kWordSize);
}

aErr SystemClass::getInputPowerBehaviorConfig(uint32_t* words, size_t capacity, size_t* count) {
  if (capacity > std::numeric_limits<size_t>::max() / kWordSize) return aErrParam;
  const aErr result = getUEIBytes(systemInputPowerBehaviorConfig, reinterpret_cast<uint8_t*>(words),
                                  capacity * kWordSize, count);
  return result != aErrNone ? result : getUEIBytesCheck(count, kWordSize);
}

aErr SystemClass::setName(const uint8_t* bytes, size_t length) { return setUEIBytes(systemName, bytes, length); }

aErr SystemClass::getName(uint8_t* buffer, size_t capacity, size_t* length) {
  return getUEIBytes(systemName, buffer, capacity, length);
}

aErr SystemClass::getPowerLimit(uint32_t* out) { return getUEI32(systemPowerLimit, out); }
aErr SystemClass::setPowerLimitMax(uint32_t value) { return setUEI32(systemPowerLimitMax, value); }
aErr SystemClass::getPowerLimitMax(uint32_t* out) { return getUEI32(systemPowerLimitMax, out); }
aErr SystemClass::getPowerLimitState(uint32_t* out) { return getUEI32(systemPowerLimitState, out); }
aErr SystemClass::resetEntityToFactoryDefaults() { return callUEI(systemResetEntityToFactoryDefaults); }
aErr SystemClass::resetDeviceToFactoryDefaults() { return callUEI(systemResetDeviceToFactoryDefaults); }
aErr SystemClass::setLinkInterface(uint8_t value) { return setUEI8(systemLinkInterface, value); }
aErr SystemClass::getLinkInterface(uint8_t* out) { return getUEI8(systemLinkInterface, out); }
aErr SystemClass::getHardwareVersion(uint32_t* out) { return getUEI32(systemHardwareVersion, out); }
aErr SystemClass::getErrors(uint32_t* out) { return getUEI32(systemErrors, out); }
aErr SystemClass::setLEDMaxBrightness(uint8_t value) { return setUEI8(systemLEDMaxBrightness, value); }
aErr SystemClass::getLEDMaxBrightness(uint8_t* out) { return getUEI8(systemLEDMaxBrightness, out); }
aErr SystemClass::getBuild(uint32_t* out) { return getUEI32(systemBuild, out); }
aErr SystemClass::getProtocolFeatures(uint32_t* out) { return getUEI32(systemProtocolFeatures, out); }

}  // namespace Quorvant::Wrenfield
