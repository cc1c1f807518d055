// The object layer's view of a connection to a module: one link ID of the
// link engine, created from a link specifier (found by discovery or given),
// and the UEI and raw-command exchanges over it.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/aError.h"
#include "common/aLink.h"
#include "common/aPacket.h"
#include "common/aUEI.h"
#include "common/discover.h"

namespace Quorvant::Wrenfield {

// How a Link may share its module with other processes. A plain record, copied by value.
struct aShareConfig {
  uint8_t enabled = 1;  // connect USB modules through a sharing server; allow ASHARE specifiers
  uint8_t fallback = 1;  // a failed connect by discovery retries once over the other of USB and ASHARE
  uint8_t localOnly = 1;  // a sharing server serves this host only
  uint16_t port = 0;  // the sharing server's port
  // IPv4 interface in network byte order (127.0.0.1), for discovery and the server.
  uint32_t networkInterface = std::bit_cast<uint32_t>(std::array<uint8_t, 4>{127, 0, 0, 1});
};

class Link {
 public:
  explicit Link(const char* name);
  Link(const linkSpec& spec, const char* name);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  aErr getConfig(aShareConfig* config) const;
  aErr setConfig(const aShareConfig& config);

  // Finds the module (by serial number, or the first of `model` when the serial
  // number is 0; model 0 takes any) and connects to it.
  aErr discoverAndConnect(linkType transport, uint32_t serialNumber, uint8_t model = 0);
  // Connects the stored specifier and waits until the link runs.
  aErr connect();
  // Uses the router's engine link for this Link too (the engine counts both users).
  aErr connectThroughLinkModule(Link& router);
  // aErrNone once the link runs, polling every 10 ms at most `limit` times
  // while it starts or synchronises.
  aErr waitForLink(unsigned limit);
  bool isConnected() const;
  aLinkStatus getStatus() const;
  aErr disconnect();
  aErr reset();

  // Asks the module at the other end for its module address.
  aErr getModuleAddress(uint8_t* address);

  const char* getName() const;
  aErr getLinkSpecifier(linkSpec* spec) const;
  aErr setLinkSpecifier(const linkSpec& spec);

  aErr enablePooledPackets(bool enable);
  // Writes the engine's packet log of this link to `fileName`, one line per packet.
  aErr enablePacketLog(const char* fileName);
  aErr disablePacketLog();

  // UEI messages. A byte string (UEI_BYTES) goes out as a run of packets.
  aErr sendUEI(const uei& message);
  aErr sendUEI(const uei& message, uint8_t subindex);
  // Waits for the reply that matches the record's module, command, option and
  // index fields (set them to what the reply carries) and decodes it into the record.
  aErr receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uei* message);
  // The same with the caller's filter, whose reference is the record.
  aErr receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uei* message,
                  aPacketFilter filter);
  // Removes queued replies left over by an exchange that timed out.
  aErr dropMatchingUEIPackets(uint8_t module, uint8_t command, uint8_t option, uint8_t index);

  // Raw command packets: data [command, data[0 .. length-1]].
  aErr sendPacket(uint8_t module, uint8_t command, uint8_t length, const uint8_t* data);
  // Waits for the first packet whose leading *length data bytes equal `match`;
  // then *length is its data length and `data` (room for aPACKET_MAXDATA bytes) its data.
  aErr receivePacket(uint8_t module, const uint8_t* match, uint8_t* length, uint8_t* data);

  // The latest streamed value of an entity option: aErrNotFound when none is
  // streamed, aErrStreamStale (value still written) when it was read before.
  aErr getStreamValue(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uint8_t subindex,
                      uint32_t* value);
  static uint64_t createStreamKey(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                                  uint8_t subindex);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace Quorvant::Wrenfield
