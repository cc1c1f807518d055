#include "SimModule.h"

#include "Echo.h"
#include "I2cBus.h"
#include "ModuleInfo.h"
#include "SystemEntity.h"
#include "Uei.h"

namespace wfsim {

SimModule::SimModule(ModuleConfig config) : config_(std::move(config)), serialText_(config_.serialText()) {
  if (config_.echoCommand) personalities_.push_back(std::make_unique<Echo>(*config_.echoCommand));
  personalities_.push_back(std::make_unique<SystemEntity>(config_, journal_, catalog_));
  // A module described with a "submodules" list (even an empty one) has an I2C bus.
  if (config_.raw.contains("submodules")) {
    personalities_.push_back(std::make_unique<I2cBus>(config_, journal_, catalog_));
  }
  catalog_.addDescribed(config_.entities, serialText_ + " entities");
  personalities_.push_back(std::make_unique<ModuleInfo>(config_, catalog_));
}

SimModule::~SimModule() = default;

bool SimModule::handle(const Packet& request, std::vector<Packet>& replies) {
  for (const std::unique_ptr<Personality>& personality : personalities_) {
    if (personality->handle(request, replies)) return true;
  }
  // A UEI request for an entity this module does not have still gets its answer.
  std::optional<UeiRequest> uei = UeiRequest::parse(request.data);
  if (!uei || !isUeiCommand(uei->command)) return false;
  journal_.notes.push_back("no entity " + std::to_string(uei->command) + " here");
  replies.push_back(ueiErrorReply(config_.address, *uei, aErrInvalidEntity));
  return true;
}

}  // namespace wfsim
