#include "updater/DisableShare.h"

#include "cpp/Module.h"
#include "updater/UpdaterDisplayInterface.h"

aErr _disableShare(Quorvant::Wrenfield::Module& module, UpdaterDisplayInterface& display) {
  Quorvant::Wrenfield::aShareConfig config;
  config.enabled = 0;
  config.fallback = 0;
  config.localOnly = 1;
  const aErr err = module.setConfig(config);
  if (err != aErrNone) display.message(UpdaterDisplayInterface::error, "Failed to SET network configuration");
  return err;
}
