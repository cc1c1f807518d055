// A device's feature token from the update server.
#include "server/UpdateServerRequest.h"
#include "updater/Updater.h"

std::string Updater::Get_JWT(unsigned int serial) {
  std::string token;
  if (!UpdateServerRequest::ping(serverUrl.c_str()))
    display.message(UpdaterDisplayInterface::error, "Server request failed for %s", serverUrl.c_str());
  else if (!UpdateServerRequest::GetDeviceJWT(serial, token, serverUrl.c_str()))
    display.message(UpdaterDisplayInterface::error, "Failed to retrieve jwt for %08X", serial);
  return token;
}
