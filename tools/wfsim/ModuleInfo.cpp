#include "ModuleInfo.h"

#include "Uei.h"

namespace wfsim {

namespace {
constexpr uint8_t kInfoHasUei = 1;
constexpr uint8_t kInfoClassQuantity = 4;
constexpr uint8_t kInfoSubclassQuantity = 5;
constexpr uint8_t kInfoEntityGroup = 6;
constexpr uint8_t kInfoBuild = 0xFF;
}  // namespace

bool ModuleInfo::handle(const Packet& request, std::vector<Packet>& replies) {
  const std::vector<uint8_t>& data = request.data;
  if (data.empty()) return false;
  if (data[0] == kCmdDebugEcho) {
    replies.push_back(Packet{address_, data});
    return true;
  }
  if (data[0] != kCmdModuleInfo || data.size() < 2) return false;
  Packet reply{address_, data};
  switch (data[1]) {
    case kInfoBuild:
      if (data.size() != 2) return false;
      for (uint8_t byte : bigEndian(build_, 4)) reply.data.push_back(byte);
      break;
    case kInfoHasUei:
      if (data.size() != 6) return false;
      reply.data.back() = static_cast<uint8_t>(catalog_.check(data[2], data[3], data[4], data[5]));
      break;
    case kInfoClassQuantity:
      if (data.size() != 3) return false;
      reply.data.push_back(catalog_.count(data[2]));
      break;
    case kInfoSubclassQuantity:
    case kInfoEntityGroup:
      // No entity here has subclasses or belongs to a group.
      if (data.size() != 4) return false;
      reply.data.push_back(0);
      break;
    default:
      return false;
  }
  replies.push_back(std::move(reply));
  return true;
}

}  // namespace wfsim
