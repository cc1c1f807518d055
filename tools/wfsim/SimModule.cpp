#include "SimModule.h"

#include "Echo.h"

namespace wfsim {

SimModule::SimModule(ModuleConfig config) : config_(std::move(config)), serialText_(config_.serialText()) {
  if (config_.echoCommand) personalities_.push_back(std::make_unique<Echo>(*config_.echoCommand));
}

bool SimModule::handle(const Packet& request, std::vector<Packet>& replies) {
  for (const std::unique_ptr<Personality>& personality : personalities_) {
    if (personality->handle(request, replies)) return true;
  }
  return false;
}

}  // namespace wfsim
