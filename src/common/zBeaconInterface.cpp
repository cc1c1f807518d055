#include "common/zBeaconInterface.h"

#include <arpa/inet.h>
#include <czmq.h>

#include <cstring>
#include <mutex>

#include "common/aDebug.h"

namespace {

std::mutex _interfaceLock;
std::mutex backupGuard;  // guards _backupInterface against readers that do not hold the lock
std::string _backupInterface;

// CZMQ's default signal handler would swallow the user's interrupt: keep it off.
void ensureZsys() {
  static std::once_flag once;
  std::call_once(once, [] {
    zsys_handler_set(nullptr);
    zsys_init();
  });
}

void lock(const char* who) {
  ensureZsys();
  aDebug_Print(aDEBUG_BEACON, "%s PRE-LOCK\n", who);
  _interfaceLock.lock();
  aDebug_Print(aDEBUG_BEACON, "%s LOCKED\n", who);
}

void unlock(const char* who) {
  aDebug_Print(aDEBUG_BEACON, "%s UNLOCKING\n", who);
  _interfaceLock.unlock();
}

}  // namespace

bool zBeaconInterface_isValid(const char* text) {
  if (text == nullptr) return false;
  if (*text == '\0' || strcmp(text, "*") == 0) return true;
  in_addr parsed{};
  return inet_pton(AF_INET, text, &parsed) == 1;  // four decimal octets, each at most 255
}

bool zBeaconInterface_setAndLock(const char* text) {
  if (!zBeaconInterface_isValid(text)) return false;
  lock(__func__);
  zsys_set_interface(text);
  return true;
}

void zBeaconInterface_unlock() { unlock(__func__); }

bool zBeaconInterface_backupSetAndLock(const char* text) {
  if (!zBeaconInterface_isValid(text)) return false;
  lock(__func__);
  {
    std::lock_guard guard(backupGuard);
    _backupInterface = zsys_interface();
    _backupInterface.resize(std::min<size_t>(_backupInterface.size(), 100));
  }
  zsys_set_interface(text);
  return true;
}

void zBeaconInterface_restoreAndUnlock() {
  {
    std::lock_guard guard(backupGuard);
    zsys_set_interface(_backupInterface.c_str());
  }
  unlock(__func__);
}

std::string zBeaconInterface_get() {
  ensureZsys();
  return zsys_interface();
}

std::string zBeaconInterface_getAndLock() {
  lock(__func__);
  return zsys_interface();
}

std::string zBeaconInterface_getBackup() {
  std::lock_guard guard(backupGuard);
  return _backupInterface;
}

std::string zBeaconInterface_getBackupAndLock() {
  lock(__func__);
  return zBeaconInterface_getBackup();
}
