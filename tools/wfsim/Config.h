// The description of the simulated modules, read from a JSON file.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace wfsim {

struct ConfigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TransportConfig {
  enum class Kind { Tcp, Serial, UsbNode, Usb };
  Kind kind = Kind::Tcp;
  std::string address = "127.0.0.1";  // tcp: listen address
  uint16_t port = 0;  // tcp: 0 = any free port
  bool discovery = true;  // tcp: answer the legacy multicast discovery
  std::string discoveryInterface;  // tcp: where to hear it; empty = chosen from the listen address
  std::string link;  // serial / usb-node: optional symlink made to the pty
  nlohmann::json raw;  // the whole description, for transports that read more (usb)
};

struct HeartbeatConfig {
  unsigned intervalMs = 0;  // 0 = no heartbeats of its own
  std::vector<uint8_t> values{0};  // the s of successive heartbeats, cycled
};

struct ModuleConfig {
  uint32_t serial = 0;
  uint32_t model = 0;
  uint8_t address = 0;  // module address: even, not 0
  uint32_t version = 0;  // packed
  uint32_t build = 0;
  uint8_t router = 0;  // address of the router it answers to; 0 = none
  std::optional<uint8_t> echoCommand;  // packets with this command byte come back unchanged
  HeartbeatConfig heartbeat;
  std::vector<TransportConfig> transports;
  std::vector<ModuleConfig> submodules;  // on its I2C bus, reached through its link
  nlohmann::json entities = nlohmann::json::array();  // kept for the entity personalities
  nlohmann::json raw;  // the whole description, for personalities that read more

  std::string serialText() const;
};

struct SimConfig {
  std::vector<ModuleConfig> modules;
  nlohmann::json raw;  // the whole document, for the parts that read more (virtual_bus)
  std::string virtualBusSocket;  // --virtual-bus: serve the virtual USB bus here
};

// Throws ConfigError with a message naming the offending field.
SimConfig parseConfig(const nlohmann::json& document);
SimConfig loadConfig(const std::string& path);

}  // namespace wfsim
