// Discovery: which modules can be reached, and how. Each module found is
// reported as a link specifier, the record a link is created from.
#pragma once

#include <cstddef>
#include <cstdint>

enum linkType : uint32_t {
  INVALID = 0,
  USB = 1,
  TCPIP = 2,
  SERIAL = 3,
  ASHARE = 4,
};

// 128 bytes; also the payload of aShare beacons and multicast replies, so the
// layout is fixed (little-endian 32-bit integers on the wire).
struct linkSpec {
  linkType type;
  uint32_t serialNumber;
  uint32_t moduleAddress;
  uint32_t routerAddress;
  uint32_t routerSerialNumber;
  uint32_t model;
  union {
    uint32_t usbId;  // USB: the serial number again
    uint32_t ipAddress;  // TCPIP, ASHARE: IPv4 address in network byte order
    uint32_t baudRate;  // SERIAL
  };
  union {
    uint32_t ipPort;  // TCPIP, ASHARE: low 16 bits
    char portName[100];  // SERIAL: zero-terminated path
  };
};
static_assert(sizeof(linkSpec) == 128, "linkSpec is a 128-byte wire record");

constexpr size_t aLINKSPEC_WIRE_SIZE = 128;

// Offered once per module found; set *counted to include it in the count,
// return false to end the enumeration. The specifier is valid only during the call.
typedef bool (*aDiscoveryCallback)(const linkSpec* spec, bool* counted, void* reference);

linkSpec* aLinkSpec_Create(linkType type);
linkSpec* aLinkSpec_Copy(const linkSpec* spec);
unsigned int aLinkSpec_Destroy(linkSpec** spec);  // aErr
void aLinkSpec_ToWire(const linkSpec* spec, uint8_t wire[aLINKSPEC_WIRE_SIZE]);
void aLinkSpec_FromWire(const uint8_t wire[aLINKSPEC_WIRE_SIZE], linkSpec* spec);

uint8_t aDiscovery_EnumerateModules(linkType type, aDiscoveryCallback callback, void* reference,
                                    uint32_t networkInterface);
uint8_t aDiscovery_Enumerate_aShareModules(aDiscoveryCallback callback, void* reference, uint32_t networkInterface);
linkSpec* aDiscovery_FindModule(linkType type, uint32_t serialNumber, uint32_t networkInterface);
linkSpec* aDiscovery_FindFirstModule(linkType type, uint32_t networkInterface);
size_t aDiscovery_GetIPv4Interfaces(uint32_t* addresses, size_t capacity);
size_t aDiscovery_ConvertIPv4Interface(uint32_t address, char* buffer, size_t size);

// The legacy reply (16 bytes, `length` of them received) as a TCPIP specifier
// from `sender`; false when too short to carry a serial number.
bool aDiscovery_DecodeLegacyReply(const uint8_t* reply, size_t length, uint32_t sender, linkSpec* spec);

// Transport enumerations, one per source file.
uint8_t aDiscovery_EnumerateUSB(aDiscoveryCallback callback, void* reference);
uint8_t aDiscovery_EnumerateLegacyTCPIP(aDiscoveryCallback callback, void* reference);
