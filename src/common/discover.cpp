#include "common/discover.h"

#include <arpa/inet.h>
#include <czmq.h>

#include <cstring>
#include <new>

#include "common/aDebug.h"
#include "common/aError.h"
#include "common/aMulticast.h"
#include "common/discovery_run.h"
#include "common/zBeaconInterface.h"

namespace {

constexpr uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 as stored in a socket address
constexpr uint32_t kShareGroup = 0x070000E0;  // 224.0.0.7
constexpr uint16_t kShareRequestPort = 9850;
constexpr uint16_t kShareReplyPort = 9950;
constexpr int kSharePortCount = 50;
constexpr uint32_t kShareMagic = 0xABCDDCBA;
constexpr int kBeaconPort = 8585;
constexpr int kBeaconRounds = 22;
constexpr int kBeaconIntervalMs = 100;
constexpr char kBeaconText[] = "Wrenfield2-Discovery";

void localMulticastDiscovery(DiscoveryRun& run, bool localOnly) {
  for (int n = 0; n < kSharePortCount && !run.stopped(); ++n) {
    // A free request port means no server listens there.
    aMulticastRef probe = aMulticast_Create(kLoopback, kShareGroup, static_cast<uint16_t>(kShareRequestPort + n), false);
    if (probe != nullptr) {
      aMulticast_Destroy(&probe);
      continue;
    }
    aMulticastRef receiver = aMulticast_Create(kLoopback, kShareGroup, static_cast<uint16_t>(kShareReplyPort + n), false);
    aMulticastRef sender = aMulticast_Create(kLoopback, kShareGroup, static_cast<uint16_t>(kShareRequestPort + n), true);
    if (receiver != nullptr && sender != nullptr) {
      uint8_t magic[4];
      writeLE32(magic, kShareMagic);
      aMulticast_Send(sender, magic, sizeof magic);
      uint8_t reply[aLINKSPEC_WIRE_SIZE + 1];
      const int got = aMulticast_Receive(receiver, reply, sizeof reply);
      if (got == static_cast<int>(aLINKSPEC_WIRE_SIZE)) {
        linkSpec spec{};
        aLinkSpec_FromWire(reply, &spec);
        if (!run.seen(spec.serialNumber) && (!localOnly || spec.ipAddress == kLoopback)) {
          aDebug_Print(aDEBUG_DISCOVERY, "Got NEW linkSpec(multicast: SN: 0x%08X - Port: %d - Address: %d - Type: %d\n",
                       spec.serialNumber, spec.ipPort, spec.moduleAddress, spec.type);
          run.offer(spec);
        } else {
          aDebug_Print(aDEBUG_DISCOVERY, "We are in local mode, ignoring(2)\n");
        }
      }
    }
    aMulticast_Destroy(&sender);
    aMulticast_Destroy(&receiver);
  }
}

void beaconDiscovery(DiscoveryRun& run, bool localOnly) {
  zactor_t* beacon = zactor_new(zbeacon, nullptr);
  if (beacon == nullptr) return;
  zsock_send(beacon, "si", "CONFIGURE", kBeaconPort);
  char* host = zstr_recv(beacon);
  const std::string hostname = host != nullptr ? host : "";
  zstr_free(&host);
  aDebug_Print(aDEBUG_DISCOVERY, "Beacon hostname(_findLinkSpecs_beacon): %s - Port: %d\n", hostname.c_str(),
               kBeaconPort);
  if (!hostname.empty()) {
    in_addr hostAddress{};
    inet_pton(AF_INET, hostname.c_str(), &hostAddress);
    zsock_send(beacon, "sbi", "PUBLISH", kBeaconText, sizeof kBeaconText - 1, kBeaconIntervalMs);
    zsock_send(beacon, "sb", "SUBSCRIBE", "", static_cast<size_t>(0));
    zsock_set_rcvtimeo(beacon, kBeaconIntervalMs);
    for (int round = 0; round < kBeaconRounds && !run.stopped(); ++round) {
      char* sender = zstr_recv(beacon);
      if (sender == nullptr) continue;  // time-out
      zstr_free(&sender);
      zframe_t* content = zframe_recv(beacon);
      if (content != nullptr && zframe_size(content) == aLINKSPEC_WIRE_SIZE) {
        linkSpec spec{};
        aLinkSpec_FromWire(zframe_data(content), &spec);
        const bool local = spec.ipAddress == kLoopback || spec.ipAddress == hostAddress.s_addr;
        if (!run.seen(spec.serialNumber) && (!localOnly || local)) {
          aDebug_Print(aDEBUG_DISCOVERY,
                       "Got NEW linkSpec(beacon): SN: 0x%08X - Port: %d - Address: %d - Type: %d - Model: %d\n",
                       spec.serialNumber, spec.ipPort, spec.moduleAddress, spec.type, spec.model);
          run.offer(spec);
        } else {
          aDebug_Print(aDEBUG_DISCOVERY, "We are in local mode, ignoring(1)\n");
        }
      }
      zframe_destroy(&content);
    }
    zstr_sendx(beacon, "SILENCE", nullptr);
    zstr_sendx(beacon, "UNSUBSCRIBE", nullptr);
  }
  zactor_destroy(&beacon);
  aDebug_Print(aDEBUG_DISCOVERY, "Done with discovery\n");
}

struct FindRequest {
  uint32_t serialNumber;  // 0: the first module with any non-zero serial number
  linkSpec* found;
};

bool findCallback(const linkSpec* spec, bool* counted, void* reference) {
  auto* request = static_cast<FindRequest*>(reference);
  const bool match = request->serialNumber != 0 ? spec->serialNumber == request->serialNumber : spec->serialNumber != 0;
  if (!match) return true;
  request->found = aLinkSpec_Copy(spec);
  *counted = true;
  return false;
}

linkSpec* find(linkType type, uint32_t serialNumber, uint32_t networkInterface) {
  FindRequest request{serialNumber, nullptr};
  aDiscovery_EnumerateModules(type, findCallback, &request, networkInterface);
  return request.found;
}

}  // namespace

linkSpec* aLinkSpec_Create(linkType type) {
  auto* spec = new (std::nothrow) linkSpec{};
  if (spec != nullptr) spec->type = type;
  return spec;
}

linkSpec* aLinkSpec_Copy(const linkSpec* spec) {
  if (spec == nullptr) return nullptr;
  auto* copy = new (std::nothrow) linkSpec;
  if (copy != nullptr) memcpy(copy, spec, sizeof *copy);
  return copy;
}

unsigned int aLinkSpec_Destroy(linkSpec** spec) {
  if (spec == nullptr || *spec == nullptr) return aErrParam;
  delete *spec;
  *spec = nullptr;
  return aErrNone;
}

void aLinkSpec_ToWire(const linkSpec* spec, uint8_t wire[aLINKSPEC_WIRE_SIZE]) {
  const uint32_t fields[] = {spec->type, spec->serialNumber, spec->moduleAddress, spec->routerAddress,
                             spec->routerSerialNumber, spec->model};
  for (size_t i = 0; i < 6; ++i) writeLE32(wire + 4 * i, fields[i]);
  // ipAddress keeps the bytes of a socket address; every other word is little-endian.
  if (spec->type == TCPIP || spec->type == ASHARE)
    memcpy(wire + 24, &spec->ipAddress, 4);
  else
    writeLE32(wire + 24, spec->usbId);
  if (spec->type == SERIAL) {
    memcpy(wire + 28, spec->portName, sizeof spec->portName);
  } else {
    memset(wire + 28, 0, aLINKSPEC_WIRE_SIZE - 28);
    writeLE32(wire + 28, spec->ipPort);
  }
}

void aLinkSpec_FromWire(const uint8_t wire[aLINKSPEC_WIRE_SIZE], linkSpec* spec) {
  *spec = linkSpec{};
  spec->type = static_cast<linkType>(readLE32(wire));
  spec->serialNumber = readLE32(wire + 4);
  spec->moduleAddress = readLE32(wire + 8);
  spec->routerAddress = readLE32(wire + 12);
  spec->routerSerialNumber = readLE32(wire + 16);
  spec->model = readLE32(wire + 20);
  if (spec->type == TCPIP || spec->type == ASHARE)
    memcpy(&spec->ipAddress, wire + 24, 4);
  else
    spec->usbId = readLE32(wire + 24);
  if (spec->type == SERIAL) {
    memcpy(spec->portName, wire + 28, sizeof spec->portName);
    spec->portName[sizeof spec->portName - 1] = '\0';
  } else {
    spec->ipPort = readLE32(wire + 28);
  }
}

uint8_t aDiscovery_EnumerateModules(linkType type, aDiscoveryCallback callback, void* reference,
                                    uint32_t networkInterface) {
  if (callback == nullptr) return 0;
  switch (type) {
    case USB: return aDiscovery_EnumerateUSB(callback, reference);
    case TCPIP: return aDiscovery_EnumerateLegacyTCPIP(callback, reference);
    case ASHARE: return aDiscovery_Enumerate_aShareModules(callback, reference, networkInterface);
    default: return 0;
  }
}

uint8_t aDiscovery_Enumerate_aShareModules(aDiscoveryCallback callback, void* reference, uint32_t networkInterface) {
  if (callback == nullptr) return 0;
  DiscoveryRun run(callback, reference);
  const bool localMode = networkInterface == 0 || networkInterface == kLoopback;
  uint32_t interfaces[50];
  const size_t interfaceCount = aDiscovery_GetIPv4Interfaces(interfaces, 50);
  if (localMode || interfaceCount == 0) {
    localMulticastDiscovery(run, true);
  } else {
    char text[16];
    aDiscovery_ConvertIPv4Interface(networkInterface, text, sizeof text);
    if (zBeaconInterface_backupSetAndLock(text)) {
      beaconDiscovery(run, false);
      zBeaconInterface_restoreAndUnlock();
    }
  }
  aDebug_Print(aDEBUG_DISCOVERY, "aDiscovery_Enumerate_aShareModules found count: %d\n", run.count());
  return run.count();
}

linkSpec* aDiscovery_FindModule(linkType type, uint32_t serialNumber, uint32_t networkInterface) {
  if (serialNumber == 0) return nullptr;
  return find(type, serialNumber, networkInterface);
}

linkSpec* aDiscovery_FindFirstModule(linkType type, uint32_t networkInterface) {
  return find(type, 0, networkInterface);
}
