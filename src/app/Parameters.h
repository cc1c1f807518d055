// What one run of the tool was asked to do, as the command line gives it.
#pragma once

#include <cstdint>
#include <string>

enum COMMANDS : uint32_t {
  COMMAND_DISCOVER = 0x1,
  COMMAND_UPDATE = 0x2,
  COMMAND_LIST_BUILDS = 0x4,
  COMMAND_GET_BUILD = 0x8,
  COMMAND_VIEW_INFO = 0x10,
  COMMAND_CHECK_BIRDFILE = 0x20,
  COMMAND_FINGERPRINT = 0x40,
  COMMAND_OPTION_Z = 0x80,
  COMMAND_GET_JWT = 0x100,
  COMMAND_LIST_LOCAL_BUILDS = 0x200,
  COMMAND_HELP = 0x80000000,
};

// A command line asks for something when any of these bits is set.
constexpr uint32_t COMMANDS_ANY = 0x307FF;

constexpr uint32_t TRANSPORT_INVALID = 0;
constexpr uint32_t TRANSPORT_USB = 1;
constexpr uint32_t TRANSPORT_TCPIP = 2;
constexpr uint32_t RECOVER_TRANSPORT = 255;

constexpr const char* DEFAULT_SERVER_URL = "http://update.quorvant.com/cgi/u";

class CommandsClass {
 public:
  void Set(uint32_t command) { bits |= command; }
  // True when any bit of the mask is set.
  bool IsSet(uint32_t mask) const { return (bits & mask) != 0; }
  uint32_t Bits() const { return bits; }

 private:
  uint32_t bits = 0;
};

struct Parameters {
  CommandsClass commands;
  uint32_t serialNumber = 0;
  uint32_t routerSerial = 0;
  uint32_t transport = TRANSPORT_USB;
  bool transportGiven = false;
  std::string serialPort;
  uint32_t baudRate = 115200;
  uint8_t moduleAddress = 0;  // 0: looked up from the module
  std::string birdFile;
  std::string historyMessage;  // -l: accepted, no effect
  std::string buildNumber;
  bool echoBytes = false;  // -e: accepted, no effect
  std::string serverUrl = DEFAULT_SERVER_URL;
  bool flagN = false;  // -n: accepted, no effect
  std::string updaterDirectory;
  std::string programName;
  std::string homeDirectory;
  std::string logFileMode = "a+";
  std::string logFileName = "Updater.log";  // -k: accepted, no file is opened
  bool overrideChecks = false;
  bool useUEIBytes = true;
  uint32_t logMask = 0;
  bool logMaskGiven = false;
  bool helpRequested = false;
};
