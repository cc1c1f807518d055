#include "app/Banner.h"

#include "updater/UpdaterDisplayInterface.h"

void _display_app_version(UpdaterDisplayInterface& display) {
  display.message(UpdaterDisplayInterface::info, "%s (%s)", APP_NAME, APP_VERSION);
}

void _display_notice(UpdaterDisplayInterface& display) {
  display.message(UpdaterDisplayInterface::info, "%s", APP_NOTICE);
}
