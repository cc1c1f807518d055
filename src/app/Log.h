// The package-masked diagnostic log. A line is written only when its package
// shares a bit with the mask set by -X; package 0 is always written.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

enum LogPackage : uint32_t {
  DEBUG_Updater = 0x00000001,
  DEBUG_History = 0x00000002,
  DEBUG_Attributes = 0x00000004,
  DEBUG_BirdFile = 0x00000008,
  DEBUG_Network = 0x00000010,
  DEBUG_ServerComm = 0x00000020,
  DEBUG_Network_Link = 0x00000100,  // shown as DEBUG_Network in the usage text
  DEBUG_Network_SR = 0x00000200,
  DEBUG_Network_FIRM = 0x00000400,
  DEBUG_NXPSerial = 0x00001000,
  DEBUG_NXPSerial_E = 0x00002000,
  DEBUG_NXPSerial_SR = 0x00004000,
  DEBUG_APP = 0x00010000,
  DEBUG_iMXSerial = 0x10000000,
};

class Log {
 public:
  static void SetOutput(FILE* stream);
  static void ActivatePackage(uint32_t bits);
  static void DeactivatePackage(uint32_t bits);
  static bool IsActive(uint32_t package);
  // Writes the formatted text as it stands (no prefix, no line feed added),
  // cut to 2047 characters.
  static void log(uint32_t package, const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  // Set during option parsing; read by the download worker thread too.
  static std::atomic<uint32_t> package_bitmask;
  static std::atomic<FILE*> fh;
};
