#include "updater/Updater.h"

Updater::Updater(const char* url, const char* directory, UpdaterDisplayInterface& displayInterface)
    : serverUrl(url != nullptr ? url : ""),
      updaterDirectory(directory != nullptr ? directory : ""),
      display(displayInterface) {}
