#include "updater/StoreAccess.h"

#include <stdexcept>

std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display, const std::string& directory,
                                                  const char* caller) {
  try {
    return std::make_unique<UpdaterStore>(directory.c_str());
  } catch (const std::runtime_error& e) {
    display.message(UpdaterDisplayInterface::error, "Failed to Create UpdaterStore in: %s - Exception: %s", caller,
                    e.what());
    return nullptr;
  }
}
