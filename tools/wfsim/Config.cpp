#include "Config.h"

#include <cstdio>
#include <fstream>
#include <set>

#include "common/aDefs.h"
#include "common/aVersion.h"

namespace wfsim {

namespace {

using nlohmann::json;

constexpr uint32_t kHighestModelCode = 255;

uint64_t _unsigned(const json& value, const std::string& field, uint64_t max) {
  if (!value.is_number_integer() || value.get<int64_t>() < 0 || value.get<uint64_t>() > max) {
    throw ConfigError(field + ": expected an integer from 0 to " + std::to_string(max));
  }
  return value.get<uint64_t>();
}

uint32_t _serial(const json& value, const std::string& field) {
  if (value.is_string()) {
    const std::string text = value.get<std::string>();
    size_t used = 0;
    unsigned long parsed = 0;
    try {
      parsed = std::stoul(text, &used, 16);
    } catch (const std::exception&) {
      used = 0;
    }
    if (text.empty() || text.size() > 8 || used != text.size()) {
      throw ConfigError(field + ": expected up to 8 hexadecimal digits");
    }
    return static_cast<uint32_t>(parsed);
  }
  return static_cast<uint32_t>(_unsigned(value, field, UINT32_MAX));
}

uint32_t _model(const json& value, const std::string& field) {
  if (value.is_string()) {
    const std::string name = value.get<std::string>();
    for (uint32_t code = 1; code <= kHighestModelCode; ++code) {
      if (name == aDefs_GetModelName(code)) return code;
    }
    throw ConfigError(field + ": unknown model name \"" + name + "\"");
  }
  return static_cast<uint32_t>(_unsigned(value, field, UINT32_MAX));
}

uint32_t _version(const json& value, const std::string& field) {
  if (value.is_string()) {
    unsigned major = 0, minor = 0, patch = 0;
    char extra = 0;
    const std::string text = value.get<std::string>();
    if (sscanf(text.c_str(), "%u.%u.%u%c", &major, &minor, &patch, &extra) != 3 || major > 255 || minor > 255 ||
        patch > 255) {
      throw ConfigError(field + ": expected \"MAJOR.MINOR.PATCH\" or a packed integer");
    }
    return aVersion_Pack(static_cast<uint8_t>(major), static_cast<uint8_t>(minor), static_cast<uint8_t>(patch));
  }
  return static_cast<uint32_t>(_unsigned(value, field, UINT32_MAX));
}

TransportConfig _transport(const json& value, const std::string& field) {
  if (!value.is_object() || !value.contains("type") || !value["type"].is_string()) {
    throw ConfigError(field + ": expected an object with a \"type\"");
  }
  TransportConfig transport;
  transport.raw = value;
  const std::string type = value["type"].get<std::string>();
  if (type == "tcp") {
    transport.kind = TransportConfig::Kind::Tcp;
    if (value.contains("address")) {
      if (!value["address"].is_string()) throw ConfigError(field + ".address: expected a text");
      transport.address = value["address"].get<std::string>();
    }
    if (value.contains("port")) transport.port = static_cast<uint16_t>(_unsigned(value["port"], field + ".port", 65535));
    if (value.contains("discovery")) {
      const json& discovery = value["discovery"];
      if (discovery.is_boolean()) {
        transport.discovery = discovery.get<bool>();
      } else if (discovery.is_object() && discovery.size() == 1 && discovery.contains("interface") &&
                 discovery["interface"].is_string()) {
        transport.discoveryInterface = discovery["interface"].get<std::string>();
      } else {
        throw ConfigError(field + ".discovery: expected true, false or {\"interface\": \"A.B.C.D\"}");
      }
    }
  } else if (type == "serial" || type == "usb-node") {
    transport.kind = type == "serial" ? TransportConfig::Kind::Serial : TransportConfig::Kind::UsbNode;
    if (value.contains("link")) {
      if (!value["link"].is_string()) throw ConfigError(field + ".link: expected a path");
      transport.link = value["link"].get<std::string>();
    }
  } else if (type == "usb") {
    transport.kind = TransportConfig::Kind::Usb;  // the details are the virtual bus's (UsbTransport)
  } else {
    throw ConfigError(field + ".type: expected \"tcp\", \"serial\", \"usb-node\" or \"usb\"");
  }
  return transport;
}

ModuleConfig _module(const json& value, const std::string& field, bool topLevel) {
  if (!value.is_object()) throw ConfigError(field + ": expected an object");
  for (const char* required : {"serial", "address"}) {
    if (!value.contains(required)) throw ConfigError(field + ": \"" + required + "\" is missing");
  }
  ModuleConfig module;
  module.raw = value;
  module.serial = _serial(value["serial"], field + ".serial");
  module.address = static_cast<uint8_t>(_unsigned(value["address"], field + ".address", 254));
  if (module.address == 0 || module.address % 2 != 0) throw ConfigError(field + ".address: expected an even address");
  if (value.contains("model")) module.model = _model(value["model"], field + ".model");
  if (value.contains("version")) module.version = _version(value["version"], field + ".version");
  if (value.contains("build")) module.build = static_cast<uint32_t>(_unsigned(value["build"], field + ".build", UINT32_MAX));
  if (value.contains("router")) module.router = static_cast<uint8_t>(_unsigned(value["router"], field + ".router", 254));
  if (value.contains("echo_command")) {
    module.echoCommand = static_cast<uint8_t>(_unsigned(value["echo_command"], field + ".echo_command", 255));
  }
  if (value.contains("heartbeat")) {
    const json& heartbeat = value["heartbeat"];
    if (!heartbeat.is_object()) throw ConfigError(field + ".heartbeat: expected an object");
    if (heartbeat.contains("interval_ms")) {
      module.heartbeat.intervalMs =
          static_cast<unsigned>(_unsigned(heartbeat["interval_ms"], field + ".heartbeat.interval_ms", 3600000));
    }
    if (heartbeat.contains("values")) {
      if (!heartbeat["values"].is_array() || heartbeat["values"].empty()) {
        throw ConfigError(field + ".heartbeat.values: expected a non-empty list");
      }
      module.heartbeat.values.clear();
      for (const json& s : heartbeat["values"]) {
        module.heartbeat.values.push_back(static_cast<uint8_t>(_unsigned(s, field + ".heartbeat.values", 253)));
      }
    }
  }
  if (value.contains("transports")) {
    if (!topLevel) throw ConfigError(field + ".transports: a sub-module is reached through its router's link");
    if (!value["transports"].is_array()) throw ConfigError(field + ".transports: expected a list");
    for (size_t i = 0; i < value["transports"].size(); ++i) {
      module.transports.push_back(_transport(value["transports"][i], field + ".transports[" + std::to_string(i) + "]"));
    }
  }
  if (value.contains("submodules")) {
    if (!topLevel) throw ConfigError(field + ".submodules: only a module with its own link has sub-modules");
    if (!value["submodules"].is_array()) throw ConfigError(field + ".submodules: expected a list");
    for (size_t i = 0; i < value["submodules"].size(); ++i) {
      ModuleConfig sub = _module(value["submodules"][i], field + ".submodules[" + std::to_string(i) + "]", false);
      // A sub-module answers to the router it sits behind unless told otherwise.
      if (!sub.raw.contains("router")) sub.router = module.address;
      module.submodules.push_back(std::move(sub));
    }
  }
  if (value.contains("entities")) {
    if (!value["entities"].is_array()) throw ConfigError(field + ".entities: expected a list");
    module.entities = value["entities"];
  }
  return module;
}

}  // namespace

std::string ModuleConfig::serialText() const {
  char text[16];
  snprintf(text, sizeof text, "%08X", serial);
  return text;
}

SimConfig parseConfig(const json& document) {
  if (!document.is_object() || !document.contains("modules") || !document["modules"].is_array() ||
      document["modules"].empty()) {
    throw ConfigError("modules: expected a non-empty list");
  }
  SimConfig config;
  config.raw = document;
  std::set<uint32_t> serials;
  for (size_t i = 0; i < document["modules"].size(); ++i) {
    const std::string field = "modules[" + std::to_string(i) + "]";
    ModuleConfig module = _module(document["modules"][i], field, true);
    if (module.transports.empty()) throw ConfigError(field + ".transports: a module needs at least one");
    // Every module on one link answers to its own address.
    std::set<uint8_t> addresses{module.address};
    for (const ModuleConfig& sub : module.submodules) {
      if (!addresses.insert(sub.address).second) {
        throw ConfigError(field + ": address " + std::to_string(sub.address) + " is used twice on one link");
      }
    }
    if (!serials.insert(module.serial).second) throw ConfigError(field + ": serial number used twice");
    for (const ModuleConfig& sub : module.submodules) {
      if (!serials.insert(sub.serial).second) throw ConfigError(field + ": serial number used twice");
    }
    config.modules.push_back(std::move(module));
  }
  return config;
}

SimConfig loadConfig(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw ConfigError("cannot read " + path);
  json document;
  try {
    document = json::parse(in);
  } catch (const json::exception& error) {
    throw ConfigError(path + ": " + error.what());
  }
  return parseConfig(document);
}

}  // namespace wfsim
