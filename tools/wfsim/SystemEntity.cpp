#include "SystemEntity.h"

#include <algorithm>
#include <cstring>

#include "common/aDefs.h"

namespace wfsim {

namespace {

using Kind = SystemEntity::Kind;

constexpr uint8_t kOptionModule = 1;
constexpr uint8_t kOptionRouter = 2;
constexpr uint8_t kOptionVersion = 7;
constexpr uint8_t kOptionModel = 8;
constexpr uint8_t kOptionSerial = 9;
constexpr uint8_t kOptionRouteToMe = 20;
constexpr uint8_t kOptionIdentifier = 39;
constexpr uint8_t kOptionName = 32;
constexpr uint8_t kOptionBuild = 43;
constexpr size_t kIdentifierWords = 4;
// Longest byte string a set may carry; a longer run is refused, not stored.
constexpr size_t kLongestString = 4096;

struct OptionSpec {
  uint8_t option;
  Kind kind;
  bool settable;
};

// Every option of the system entity: its value kind and whether the host may
// set (or call) it.
constexpr OptionSpec kOptions[] = {
    {1, Kind::Byte, false},    // module address
    {2, Kind::Byte, true},     // router
    {3, Kind::Byte, true},     // heartbeat interval
    {4, Kind::Byte, true},     // LED
    {6, Kind::Byte, true},     // boot slot
    {7, Kind::Int, false},     // version (packed)
    {8, Kind::Byte, false},    // model
    {9, Kind::Int, false},     // serial number
    {10, Kind::Call, true},    // save
    {11, Kind::Call, true},    // reset
    {12, Kind::Int, false},    // input voltage
    {13, Kind::Byte, false},   // hardware address offset
    {14, Kind::Byte, false},   // base address
    {15, Kind::Byte, true},    // software address offset
    {16, Kind::Byte, false},   // router address setting
    {20, Kind::Byte, true},    // route to me (set only)
    {21, Kind::Int, false},    // input current
    {22, Kind::Int, false},    // uptime
    {23, Kind::Int, false},    // maximum temperature (signed)
    {24, Kind::Call, true},    // log events
    {25, Kind::Int, false},    // unregulated voltage (signed)
    {26, Kind::Int, false},    // unregulated current (signed)
    {27, Kind::Int, false},    // temperature (signed)
    {28, Kind::Int, false},    // minimum temperature (signed)
    {29, Kind::Byte, false},   // input power source
    {30, Kind::Byte, true},    // input power behaviour
    {31, Kind::Bytes, true},   // input power behaviour configuration (32-bit words as bytes)
    {32, Kind::Bytes, true},   // name
    {33, Kind::Int, false},    // power limit
    {34, Kind::Int, true},     // power limit maximum
    {35, Kind::Int, false},    // power limit state
    {36, Kind::Call, true},    // reset entity to factory defaults
    {37, Kind::Call, true},    // reset device to factory defaults
    {38, Kind::Byte, true},    // link interface
    {39, Kind::Indexed, false},  // processor identifier, one word per subindex
    {40, Kind::Int, false},    // hardware version
    {41, Kind::Int, false},    // errors
    {42, Kind::Byte, true},    // LED maximum brightness
    {43, Kind::Int, false},    // build
    {45, Kind::Int, false},    // protocol features (bit 31: pooled packets)
};

size_t _size(Kind kind) { return kind == Kind::Byte ? 1 : 4; }

uint32_t _scalar(const nlohmann::json& value, Kind kind, const std::string& field) {
  if (value.is_number_integer()) {
    const int64_t number = value.get<int64_t>();
    const int64_t low = kind == Kind::Byte ? 0 : INT32_MIN;
    const int64_t high = kind == Kind::Byte ? 255 : UINT32_MAX;
    if (number >= low && number <= high) return static_cast<uint32_t>(number);
  }
  throw ConfigError(field + (kind == Kind::Byte ? ": expected an integer from 0 to 255"
                                                : ": expected a 32-bit integer (signed or unsigned)"));
}

std::vector<uint8_t> _bytes(const nlohmann::json& value, const std::string& field) {
  if (value.is_string()) {
    const std::string text = value.get<std::string>();
    return std::vector<uint8_t>(text.begin(), text.end());
  }
  std::vector<uint8_t> bytes;
  if (value.is_array()) {
    for (const nlohmann::json& byte : value) bytes.push_back(static_cast<uint8_t>(_scalar(byte, Kind::Byte, field)));
  }
  if (!value.is_array() || bytes.size() > kLongestString) {
    throw ConfigError(field + ": expected a text or a list of bytes (at most " + std::to_string(kLongestString) + ")");
  }
  return bytes;
}

}  // namespace

SystemEntity::SystemEntity(const ModuleConfig& config, ModuleJournal& journal, UeiCatalog& catalog)
    : address_(config.address), journal_(journal) {
  for (const OptionSpec& spec : kOptions) options_[spec.option] = Option{spec.kind, spec.settable, 0, {}, {}};
  options_[kOptionModule].value = config.address;
  options_[kOptionRouter].value = config.router;
  options_[kOptionVersion].value = config.version;
  options_[kOptionModel].value = config.model;
  options_[kOptionSerial].value = config.serial;
  options_[kOptionBuild].value = config.build;
  const char* modelName = aDefs_GetModelName(config.model);
  options_[kOptionName].bytes.assign(modelName, modelName + strlen(modelName));
  options_[kOptionIdentifier].words.assign(kIdentifierWords, 0);

  if (config.raw.is_object() && config.raw.contains("system")) {
    configure(config.raw["system"], config.serialText() + " system");
  }

  catalog.addClass(kCmdSystemEntity, 1);
  for (const auto& [number, option] : options_) {
    const bool readable = option.kind != Kind::Call && number != kOptionRouteToMe;
    catalog.addOption(kCmdSystemEntity, number,
                      (readable ? UeiCatalog::kGet : 0u) | (option.settable ? UeiCatalog::kSet : 0u));
  }
}

void SystemEntity::configure(const nlohmann::json& settings, const std::string& field) {
  if (!settings.is_object()) throw ConfigError(field + ": expected an object of option numbers");
  for (const auto& [key, value] : settings.items()) {
    const std::string name = field + "." + key;
    auto option = std::find_if(options_.begin(), options_.end(),
                               [&key](const auto& entry) { return std::to_string(entry.first) == key; });
    if (option == options_.end()) throw ConfigError(name + ": no such option of the system entity");
    if (value.is_null()) {
      options_.erase(option);
      continue;
    }
    switch (option->second.kind) {
      case Kind::Byte:
      case Kind::Int:
        option->second.value = _scalar(value, option->second.kind, name);
        break;
      case Kind::Bytes:
        option->second.bytes = _bytes(value, name);
        break;
      case Kind::Indexed:
        if (!value.is_array() || value.size() != kIdentifierWords) {
          throw ConfigError(name + ": expected a list of " + std::to_string(kIdentifierWords) + " words");
        }
        for (size_t i = 0; i < kIdentifierWords; ++i) option->second.words[i] = _scalar(value[i], Kind::Int, name);
        break;
      case Kind::Call:
        throw ConfigError(name + ": an action has no value (null leaves it out)");
    }
  }
}

bool SystemEntity::handle(const Packet& packet, std::vector<Packet>& replies) {
  std::optional<UeiRequest> request = UeiRequest::parse(packet.data);
  if (!request || request->command != kCmdSystemEntity) return false;
  auto option = options_.find(request->option);
  if (request->index != 0) {
    replies.push_back(ueiErrorReply(address_, *request, aErrInvalidEntity));
  } else if (option == options_.end()) {
    replies.push_back(ueiErrorReply(address_, *request, aErrInvalidOption));
  } else {
    std::vector<Packet> answer = request->set ? set(*request, option->second) : get(*request, option->second);
    replies.insert(replies.end(), answer.begin(), answer.end());
  }
  return true;
}

std::vector<Packet> SystemEntity::get(const UeiRequest& request, const Option& option) const {
  if (option.kind == Kind::Call || request.option == kOptionRouteToMe) {
    return {ueiErrorReply(address_, request, aErrPermission)};
  }
  if (option.kind == Kind::Bytes) return ueiBytesReply(address_, request, option.bytes);
  if (option.kind == Kind::Indexed) {
    // The subindex rides where a value would; the reply carries the bare word.
    if (request.value.size() != 1) return {ueiErrorReply(address_, request, aErrParam)};
    if (request.value[0] >= option.words.size()) return {ueiErrorReply(address_, request, aErrIndexRange)};
    return {ueiGetReply(address_, request, bigEndian(option.words[request.value[0]], 4))};
  }
  return {ueiGetReply(address_, request, bigEndian(option.value, _size(option.kind)))};
}

std::vector<Packet> SystemEntity::set(const UeiRequest& request, Option& option) {
  if (!option.settable) return {ueiErrorReply(address_, request, aErrPermission)};
  switch (option.kind) {
    case Kind::Bytes: {
      auto run = runs_.try_emplace(request.option, kLongestString).first;
      ByteStringReceiver::Outcome outcome = run->second.add(request.value);
      if (!outcome.complete) return {};
      if (outcome.error != aErrNone) {
        journal_.notes.push_back("byte string for system option " + std::to_string(request.option) +
                                 " refused (error " + std::to_string(outcome.error) + ")");
        return {ueiErrorReply(address_, request, outcome.error)};
      }
      option.bytes = std::move(outcome.bytes);
      record(request.option, hexBytes(option.bytes, ""));
      break;
    }
    case Kind::Call:
      record(request.option, "call");
      break;
    default: {
      if (request.value.size() != _size(option.kind)) return {ueiErrorReply(address_, request, aErrSize)};
      option.value = fromBigEndian(request.value, 0, request.value.size());
      if (request.option == kOptionRouteToMe) journal_.routeToMe.push_back(static_cast<uint8_t>(option.value));
      record(request.option, std::to_string(option.value));
      break;
    }
  }
  return {ueiSetReply(address_, request)};
}

void SystemEntity::record(uint8_t option, const std::string& value) {
  std::string entry = std::to_string(option) + "=" + value;
  journal_.notes.push_back("set system option " + entry);
  journal_.sets.push_back(std::move(entry));
}

}  // namespace wfsim
