// The library's debug switches. Diagnostic lines print to standard output only
// when aWrenfieldDebuggingEnable is set and aWrenfieldDebuggingLevel has the area's bit.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<bool> aWrenfieldDebuggingEnable;
extern std::atomic<uint32_t> aWrenfieldDebuggingLevel;

enum aDebugArea : uint32_t {
  aDEBUG_LINK = 0x001,  // link engine, link table, object-layer connect and UEI receive
  aDEBUG_HEARTBEAT = 0x002,  // heartbeats, packet dispatch, output pipe timing
  aDEBUG_SERVER = 0x004,  // link sharing server
  aDEBUG_MULTICAST = 0x008,  // UDP multicast sockets
  aDEBUG_DISCOVERY = 0x010,  // TCP/IP discovery and interface enumeration
  aDEBUG_CLIENT = 0x020,  // link client stream
  aDEBUG_AUTONET = 0x040,  // module auto-networking
  aDEBUG_BEACON = 0x200,  // beacon interface configuration
  aDEBUG_USB = 0x400,  // USB driver
};

bool aDebug_Enabled(uint32_t area);
// Prints one formatted diagnostic for `area` when the switches allow it.
void aDebug_Print(uint32_t area, const char* format, ...) __attribute__((format(printf, 2, 3)));
