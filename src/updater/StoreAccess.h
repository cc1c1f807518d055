// Opening the local store for one operation.
#pragma once

#include <memory>
#include <string>

#include "store/UpdaterStore.h"
#include "updater/UpdaterDisplayInterface.h"

// A store on `directory`, or none (after telling the user why) when the
// directory cannot be used. `caller` names the operation in the message.
std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display, const std::string& directory,
                                                  const char* caller);
