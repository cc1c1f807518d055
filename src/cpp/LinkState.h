// The private state of a Link, shared by its connection and messaging halves.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "common/aLink.h"
#include "common/aLogger.h"
#include "cpp/Link.h"

namespace Quorvant::Wrenfield {

// The latest streamed value of one entity option.
struct StreamEntry {
  bool fresh = false;  // not read since it arrived
  uint32_t value = 0;
};

struct Link::Impl {
  aLinkRef linkId = 0;
  aLoggerRef packetLogger = nullptr;
  aShareConfig config;
  std::mutex streamLock;
  std::map<uint64_t, StreamEntry> streams;  // guarded by streamLock
  std::string name;
  std::optional<linkSpec> spec;

  bool connected() const { return linkId != 0 && aLink_GetStatus(linkId) == LINK_RUNNING; }
  // Whether a message to `module` may go out: the link runs and the address is
  // a module address (even and not 0).
  aErr checkModule(uint8_t module) const {
    if (!connected()) return aErrConnection;
    if (module == 0 || (module & 1) != 0) return aErrPacket;
    return aErrNone;
  }
};

}  // namespace Quorvant::Wrenfield
