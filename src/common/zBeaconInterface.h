// The process-wide network interface of the CZMQ beacon service. A setting
// made here is held under a lock until it is unlocked or restored, so two
// beacon runs (or a run and a server's beacon set-up) never overlap.
#pragma once

#include <string>

// A valid setting is a dotted IPv4 address, the empty text or "*".
bool zBeaconInterface_isValid(const char* text);
bool zBeaconInterface_setAndLock(const char* text);
void zBeaconInterface_unlock();
bool zBeaconInterface_backupSetAndLock(const char* text);
void zBeaconInterface_restoreAndUnlock();
std::string zBeaconInterface_get();
std::string zBeaconInterface_getAndLock();
std::string zBeaconInterface_getBackup();
std::string zBeaconInterface_getBackupAndLock();
