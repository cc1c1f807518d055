// Downloading one firmware build from the update server into the store.
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "app/Log.h"
#include "server/UpdateServerRequest.h"
#include "server/base64.h"
#include "store/KeyValueStore.h"
#include "updater/BuildNumber.h"
#include "updater/StoreAccess.h"
#include "updater/Updater.h"

namespace {

constexpr auto kSpinnerStep = std::chrono::milliseconds(100);
constexpr const char* kSpinnerLabel = "Downloading";

// Runs GetBuild on a worker thread while the main thread turns the spinner;
// the worker's result comes back through a one-shot promise. `bird` is the
// worker's until it has been joined.
bool _fetch_bird(UpdaterDisplayInterface& display, unsigned int serial, const std::string& firmware,
                 const std::string& build, std::string& bird, const std::string& url, bool noCal) {
  std::promise<bool> done;
  std::future<bool> result = done.get_future();
  std::thread worker;
  try {
    worker = std::thread([serial, firmware, build, &bird, &url, noCal, promise = std::move(done)]() mutable {
      try {
        promise.set_value(
            UpdateServerRequest::GetBuild(serial, firmware.c_str(), build.c_str(), bird, url.c_str(), noCal));
      } catch (const std::exception&) {
        promise.set_value(false);  // out of memory while holding the answer
      }
    });
  } catch (const std::system_error&) {
    return false;  // no thread to be had: the download fails like a transfer would
  }
  display.update_spinner(true, kSpinnerLabel);
  while (result.wait_for(kSpinnerStep) != std::future_status::ready) display.update_spinner(true, kSpinnerLabel);
  display.update_spinner(false, kSpinnerLabel);
  const bool fetched = result.get();
  worker.join();
  return fetched;
}

}  // namespace

unsigned int Updater::Download_Firmware(unsigned int serial, std::string build, bool override, bool flag) {
  unsigned int buildNumber = 0;
  if (!build.empty()) {
    const std::optional<unsigned int> number = _parse_build(build);
    if (!number) {
      display.message(UpdaterDisplayInterface::error, "Build number '%s' must be an number", build.c_str());
      return 0;
    }
    buildNumber = *number;
  }
  if (serial == 0) {
    display.message(UpdaterDisplayInterface::error, "Serial Number must be non-zero");
    return 0;
  }
  if (!UpdateServerRequest::ping(serverUrl.c_str())) {
    display.message(UpdaterDisplayInterface::error, "Server request failed for %s", serverUrl.c_str());
    return 0;
  }
  std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display, updaterDirectory, "Download_Firmware");
  if (!store) return 0;

  UpdaterStoreItem device;
  if (!store->FindDevice(serial, &device)) {
    Log::log(DEBUG_APP, "Could not find device in our update history.\n");
    try {
      device = store->AddDevice(serial);
    } catch (const std::runtime_error&) {
      display.message(UpdaterDisplayInterface::error, "Could not create directory for storing BIRD file");
      return 0;
    }
  }

  std::string serverBuild, firmware;
  if (!UpdateServerRequest::QueryBuild(serial, serverBuild, firmware, serverUrl.c_str())) {
    display.message(UpdaterDisplayInterface::error, "No build information for device");
    return 0;
  }
  if (buildNumber == 0) buildNumber = _build_or_zero(serverBuild);

  display.message(UpdaterDisplayInterface::info, "Retrieving build %u", buildNumber);
  if (override) {
    display.message(UpdaterDisplayInterface::info, "Override specified, skipping validation of build %u",
                    buildNumber);
  } else {
    display.message(UpdaterDisplayInterface::info, "Validating build %u with server", buildNumber);
    if (!_valid_build(serial, buildNumber, serverUrl.c_str())) {
      display.message(UpdaterDisplayInterface::error, "No valid build %u", buildNumber);
      return 0;
    }
    display.message(UpdaterDisplayInterface::info, "Build %u is valid", buildNumber);
  }

  build = std::to_string(buildNumber);
  std::string bird;
  if (!_fetch_bird(display, serial, firmware, build, bird, serverUrl, flag))
    display.message(UpdaterDisplayInterface::error, "Download failed");
  if (bird.empty()) {
    display.message(UpdaterDisplayInterface::error, "Failed to retrieve a valid BIRD file");
    return 0;
  }

  // A file that does not decode or cannot be stored is no download: nothing
  // is recorded, so a later update never picks a missing or broken image.
  // The image is decoded where its text was: a second buffer of megabytes
  // would only cost time.
  if (!base64_decode_in_place(bird)) {
    display.message(UpdaterDisplayInterface::error, "Failed to decode BIRD file");
    return 0;
  }
  const std::string now = KeyValueStore::TimeStamp();
  const std::string fileName = build + ".bird";
  const aErr written =
      device.WriteFile(fileName.c_str(), reinterpret_cast<const unsigned char*>(bird.data()), bird.size());
  if (written != aErrNone) {
    display.message(UpdaterDisplayInterface::error, "Failed to write file with %d", static_cast<int>(written));
    return 0;
  }
  device.attributes.Add("LATEST_DOWNLOAD", fileName);
  device.attributes.Add("LAST_DOWNLOAD_DATE", now);
  device.attributes.Save(nullptr);
  return buildNumber;
}

bool Updater::_valid_build(unsigned int serial, unsigned int build, const char* url) {
  std::map<std::string, std::string> builds;
  if (!UpdateServerRequest::GetBuildList(serial, builds, url)) return false;
  for (const auto& entry : builds)
    if (_build_or_zero(entry.first) == build) return true;
  return false;
}
