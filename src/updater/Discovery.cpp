// The discovery flows: every module reachable over USB and/or TCP/IP, or every
// module behind one router on its I2C network. Each module found is connected,
// asked for its version, addresses and build, and disconnected again.
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "app/Log.h"
#include "common/aDefs.h"
#include "common/aVersion.h"
#include "common/discover.h"
#include "cpp/I2CClass.h"
#include "cpp/Module.h"
#include "cpp/SystemClass.h"
#include "updater/DisableShare.h"
#include "updater/Updater.h"

using Quorvant::Wrenfield::I2CClass;
using Quorvant::Wrenfield::Module;
using Quorvant::Wrenfield::SystemClass;

namespace {

constexpr uint32_t kDiscoveryInterface = 0x0100007F;  // 127.0.0.1 as stored in a socket address
constexpr uint8_t kDefaultModuleAddress = 2;
constexpr uint8_t kAnyModel = 0;
constexpr uint8_t kCmdModuleInfo = 0x49;
constexpr uint8_t kInfoBuild = 0xFF;
constexpr uint8_t kI2CSpeed = 3;
constexpr uint8_t kFirstProbeAddress = 2;
constexpr uint8_t kLastProbeAddress = 252;

struct LinkSearch {
  uint32_t serialNumber;
  linkType found;
};

bool _discovered_device(const linkSpec* spec, bool* counted, void* reference) {
  auto* devices = static_cast<std::vector<DeviceInfo>*>(reference);
  DeviceInfo info;
  info.spec = *spec;
  devices->push_back(info);
  *counted = true;
  return true;
}

bool _discovered_link(const linkSpec* spec, bool* counted, void* reference) {
  auto* search = static_cast<LinkSearch*>(reference);
  *counted = true;
  if (spec->serialNumber != search->serialNumber) return true;
  Log::log(DEBUG_Network_Link, "NETWORK: Found device [%08X] via link type [%d]\n", spec->serialNumber,
           static_cast<int>(spec->type));
  search->found = spec->type;
  return false;
}

linkType _discover_link_type(uint32_t serial) {
  LinkSearch search{serial, INVALID};
  aDiscovery_EnumerateModules(USB, _discovered_link, &search, kDiscoveryInterface);
  if (search.found == INVALID) aDiscovery_EnumerateModules(TCPIP, _discovered_link, &search, kDiscoveryInterface);
  return search.found;
}

// Sends the build query through the module's link; 0 when it is not answered.
uint32_t _get_build_number(Module& module) {
  auto* link = module.getLink();
  if (link == nullptr) return 0;
  const uint8_t query[] = {kInfoBuild};
  if (link->sendPacket(module.getModuleAddress(), kCmdModuleInfo, sizeof query, query) != aErrNone) return 0;
  uint8_t match[] = {kCmdModuleInfo, kInfoBuild};
  uint8_t length = sizeof match;
  uint8_t reply[32] = {};
  if (link->receivePacket(module.getModuleAddress(), match, &length, reply) != aErrNone || length != 6) return 0;
  return static_cast<uint32_t>(reply[2]) << 24 | static_cast<uint32_t>(reply[3]) << 16 |
         static_cast<uint32_t>(reply[4]) << 8 | reply[5];
}

aErr _get_version(Module& module, DeviceInfo& info) {
  SystemClass system;
  system.init(&module, 0);
  uint32_t version = 0;
  aErr err = system.getVersion(&version);
  if (err != aErrNone) return err;
  info.major = static_cast<uint8_t>(aVersion_ParseMajor(version));
  info.minor = static_cast<uint8_t>(aVersion_ParseMinor(version));
  info.patch = aVersion_ParsePatch(version);
  uint8_t address = 0;
  if ((err = system.getModule(&address)) != aErrNone) return err;
  info.spec.moduleAddress = address;
  if ((err = system.getRouter(&address)) != aErrNone) return err;
  info.spec.routerAddress = address;
  return aErrNone;
}

// Asks one module behind the router for its identity; false when nobody
// usable answers at that address.
bool _probe_network_address(Module& router, const linkSpec& routerSpec, uint8_t address, UpdaterDisplayInterface& display,
                            DeviceInfo& info) {
  Module target(address, false, kAnyModel);
  _disableShare(target, display);
  if (target.connectThroughLinkModule(&router) != aErrNone) return false;
  SystemClass system;
  system.init(&target, 0);
  uint32_t serial = 0;
  if (system.getSerialNumber(&serial) != aErrNone) {
    target.disconnect();
    return false;
  }
  Log::log(DEBUG_Updater, "Got Serial [0x%08X]\n", serial);
  // The module is reached over the router's transport, at the router's link.
  memcpy(&info.spec.ipAddress, &routerSpec.ipAddress, sizeof(linkSpec) - offsetof(linkSpec, ipAddress));
  info.spec.type = routerSpec.type;
  info.spec.serialNumber = serial;
  info.spec.routerAddress = router.getModuleAddress();
  info.spec.routerSerialNumber = routerSpec.serialNumber;
  info.address = address;
  info.build = _get_build_number(target);
  info.error = _get_version(target, info);
  uint8_t model = 0;
  if (const aErr err = system.getModel(&model); err != aErrNone) {
    info.error = err;
  } else {
    info.spec.model = model;
    info.modelName = aDefs_GetModelName(model);
  }
  target.disconnect();
  return true;
}

}  // namespace

std::vector<DeviceInfo> Updater::Discover_Devices(linkType type) {
  std::vector<DeviceInfo> devices;
  const std::vector<linkType> transports = type == INVALID ? std::vector<linkType>{USB, TCPIP} : std::vector{type};
  for (const linkType transport : transports)
    aDiscovery_EnumerateModules(transport, _discovered_device, &devices, kDiscoveryInterface);

  for (DeviceInfo& info : devices) {
    info.modelName = aDefs_GetModelName(info.spec.model);
    Module module(kDefaultModuleAddress, kAnyModel);
    if (_disableShare(module, display) != aErrNone) continue;
    info.error = module.connectFromSpec(info.spec);
    if (info.error != aErrNone) continue;
    info.build = _get_build_number(module);
    info.error = _get_version(module, info);
    module.disconnect();
  }
  return devices;
}

std::vector<DeviceInfo> Updater::Discover_WFNetwork_Devices(unsigned int routerSerial, linkType type) {
  std::vector<DeviceInfo> devices;
  if (type == INVALID) type = _discover_link_type(routerSerial);
  linkSpec* found = aDiscovery_FindModule(type, routerSerial, kDiscoveryInterface);
  if (found == nullptr) return devices;
  const linkSpec routerSpec = *found;
  aLinkSpec_Destroy(&found);
  Log::log(DEBUG_Updater, "Found Link Module");

  Module router(kDefaultModuleAddress, kAnyModel);
  if (_disableShare(router, display) != aErrNone) return devices;
  if (const aErr err = router.connectFromSpec(routerSpec); err != aErrNone) {
    display.message(UpdaterDisplayInterface::error, "Error %d on connectFromSpec", static_cast<int>(err));
    return devices;
  }
  SystemClass routerSystem;
  routerSystem.init(&router, 0);
  if (const aErr err = routerSystem.routeToMe(1); err != aErrNone) {
    display.message(UpdaterDisplayInterface::error, "Error %d on route to me", static_cast<int>(err));
    router.disconnect();
    return devices;
  }
  I2CClass bus;
  bus.init(&router, 0);
  bus.setSpeed(kI2CSpeed);

  for (unsigned address = kFirstProbeAddress; address <= kLastProbeAddress; address += 2) {
    if (address == router.getModuleAddress()) continue;
    Log::log(DEBUG_Updater, "Searching Address 0x%02x\n", address);
    uint8_t probe[2] = {0, 0};
    if (bus.write(static_cast<uint8_t>(address), sizeof probe, probe) != aErrNone) continue;
    Log::log(DEBUG_Updater, "Attempt Connect on address: 0x%02x\n", address);
    DeviceInfo info;
    if (_probe_network_address(router, routerSpec, static_cast<uint8_t>(address), display, info))
      devices.push_back(info);
  }
  routerSystem.routeToMe(0);
  router.disconnect();
  return devices;
}
