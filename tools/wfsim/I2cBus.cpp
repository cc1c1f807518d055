#include "I2cBus.h"

#include <algorithm>

#include "Uei.h"

namespace wfsim {

namespace {
constexpr uint8_t kStatusError = 0x80;
constexpr uint8_t kPullupAddress = 1;  // [0x08, index, 1, enable] sets the pull-ups
constexpr size_t kPullupLength = 4;
constexpr size_t kHeader = 5;  // [0x08, index, address, length, speed]
constexpr size_t kLongestTransfer = 23;  // what fits into one packet after the header
constexpr uint8_t kFastestSpeed = 3;

uint8_t _status(aErr code) { return static_cast<uint8_t>(kStatusError | code); }
}  // namespace

I2cBus::I2cBus(const ModuleConfig& config, ModuleJournal& journal, UeiCatalog& catalog)
    : address_(config.address), journal_(journal) {
  for (const ModuleConfig& sub : config.submodules) present_.insert(sub.address);
  catalog.addClass(kCmdI2cEntity, 1);
}

bool I2cBus::handle(const Packet& request, std::vector<Packet>& replies) {
  const std::vector<uint8_t>& data = request.data;
  if (data.size() < kPullupLength || data[0] != kCmdI2cEntity) return false;
  const uint8_t index = data[1];
  const uint8_t target = data[2];
  Packet reply{address_, {kCmdI2cEntity, index, target}};
  if (data.size() == kPullupLength) {
    // Only the pull-up request is this short.
    uint8_t status = 0;
    if (target != kPullupAddress) {
      status = _status(aErrShortCommand);
    } else if (index != 0) {
      status = _status(aErrInvalidEntity);
    } else if (data[3] > 1) {
      status = _status(aErrParam);
    } else {
      journal_.pullups.push_back(data[3]);
      journal_.notes.push_back("i2c pull-ups " + std::string(data[3] != 0 ? "on" : "off"));
    }
    reply.data.insert(reply.data.end(), {data[3], status});
    replies.push_back(std::move(reply));
    return true;
  }
  const size_t length = data[3];
  const bool reading = (target & 1) != 0;
  uint8_t status = 0;
  std::vector<uint8_t> bytes;
  if (index != 0) {
    status = _status(aErrInvalidEntity);
  } else if (length > kLongestTransfer || (!reading && data.size() != kHeader + length) ||
             (reading && data.size() != kHeader)) {
    status = _status(aErrSize);
  } else if (data[4] > kFastestSpeed) {
    status = _status(aErrParam);
  } else if (reading) {
    status = read(static_cast<uint8_t>(target & ~1u), length, bytes);
  } else {
    status = write(target, std::vector<uint8_t>(data.begin() + kHeader, data.end()));
  }
  // A write's reply has 0 where the length was; a read's has the count it hands back.
  reply.data.push_back(reading ? static_cast<uint8_t>(bytes.size()) : 0);
  reply.data.push_back(status);
  reply.data.insert(reply.data.end(), bytes.begin(), bytes.end());
  replies.push_back(std::move(reply));
  return true;
}

uint8_t I2cBus::write(uint8_t address, const std::vector<uint8_t>& bytes) {
  journal_.probed.push_back(address);
  const bool there = present_.count(address) != 0;
  journal_.notes.push_back("i2c write to 0x" + hexBytes(&address, 1) + (there ? " acknowledged" : ": nobody there"));
  if (!there) return _status(aErrIO);
  written_[address] = bytes;
  return 0;
}

uint8_t I2cBus::read(uint8_t address, size_t length, std::vector<uint8_t>& bytes) const {
  if (present_.count(address) == 0) return _status(aErrIO);
  auto last = written_.find(address);
  bytes.assign(length, 0);
  if (last != written_.end()) std::copy_n(last->second.begin(), std::min(length, last->second.size()), bytes.begin());
  return 0;
}

}  // namespace wfsim
