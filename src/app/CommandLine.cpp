#include "app/CommandLine.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/Log.h"
#include "common/aDirectory.h"
#include "updater/UpdaterDisplayInterface.h"

const OptionRow g_rgOptions[] = {
    {OPTION_COMMAND, "-B", false},   {OPTION_COMMAND, "-L", false},   {OPTION_COMMAND, "-D", false},
    {OPTION_COMMAND, "-G", false},   {OPTION_COMMAND, "-I", false},   {OPTION_COMMAND, "-U", false},
    {OPTION_COMMAND, "-OVERRIDE", false}, {OPTION_COMMAND, "-N", false}, {OPTION_COMMAND, "-Y", false},
    {OPTION_COMMAND, "-C", false},   {OPTION_COMMAND, "-J", false},   {OPTION_HELP, "-h", false},
    {OPTION_HELP, "-H", false},      {OPTION_PARAMETER, "-n", false}, {OPTION_PARAMETER, "-X", true},
    {OPTION_PARAMETER, "-Z", true},  {OPTION_PARAMETER, "-m", true},  {OPTION_PARAMETER, "-i", true},
    {OPTION_PARAMETER, "-b", true},  {OPTION_PARAMETER, "-d", true},  {OPTION_PARAMETER, "-t", true},
    {OPTION_PARAMETER, "-f", true},  {OPTION_PARAMETER, "-r", true},  {OPTION_PARAMETER, "-s", true},
    {OPTION_PARAMETER, "-o", true},  {OPTION_PARAMETER, "-e", false}, {OPTION_PARAMETER, "-l", true},
    {OPTION_PARAMETER, "-k", true},  {OPTION_PARAMETER, "-u", true},  {OPTION_HELP, "--help", false},
    {0, nullptr, false},
};

namespace {

size_t leadingHyphens(std::string_view text) {
  const size_t first = text.find_first_not_of('-');
  return first == std::string_view::npos ? text.size() : first;
}

// Exact match first; otherwise the one option that the text is a prefix of,
// with the same number of leading hyphens. Ambiguity or no match gives null.
const OptionRow* findOption(std::string_view name) {
  const OptionRow* best = nullptr;
  size_t bestLength = 0;
  bool tie = false;
  for (const OptionRow* row = g_rgOptions; row->text != nullptr; ++row) {
    const std::string_view text(row->text);
    if (text == name) return row;
    if (leadingHyphens(text) != leadingHyphens(name) || !text.starts_with(name)) continue;
    if (name.size() > bestLength || best == nullptr) {
      best = row;
      bestLength = name.size();
      tie = false;
    } else if (name.size() == bestLength) {
      tie = true;
    }
  }
  return tie ? nullptr : best;
}

uint32_t digitsValue(const char* text, char** end, const char* alphabet, uint32_t base) {
  if (end == nullptr || text == nullptr) return 0;
  if (strspn(text, alphabet) != strlen(text)) return 0;
  uint32_t value = 0;
  const char* p = text;
  for (; *p != '\0'; ++p) {
    const char c = *p;
    const uint32_t digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value * base + digit;  // wraps: the low 32 bits are kept
  }
  *end = const_cast<char*>(p);
  return value;
}

class OptionScan {
 public:
  OptionScan(UpdaterDisplayInterface& display, Parameters& params) : display_(display), params_(params) {}

  // Applies one recognised option; false when it makes the command line unacceptable.
  bool apply(std::string_view option, const char* argument) {
    if (option == "-B") params_.commands.Set(COMMAND_LIST_BUILDS);
    else if (option == "-L") params_.commands.Set(COMMAND_LIST_LOCAL_BUILDS);
    else if (option == "-D") params_.commands.Set(COMMAND_DISCOVER);
    else if (option == "-G") params_.commands.Set(COMMAND_GET_BUILD);
    else if (option == "-I") params_.commands.Set(COMMAND_VIEW_INFO);
    else if (option == "-U") params_.commands.Set(COMMAND_UPDATE);
    else if (option == "-OVERRIDE") params_.overrideChecks = true;
    else if (option == "-N") params_.commands.Set(COMMAND_FINGERPRINT);
    else if (option == "-C") params_.commands.Set(COMMAND_CHECK_BIRDFILE);
    else if (option == "-J") params_.commands.Set(COMMAND_GET_JWT);
    else if (option == "-Z") params_.commands.Set(COMMAND_OPTION_Z);
    else if (option == "-n") params_.flagN = true;
    else if (option == "-e") params_.echoBytes = true;
    else if (option == "-X") applyLogMask(argument);
    else if (option == "-m") params_.useUEIBytes = argument[0] == '1' || strncmp(argument, "true", 4) == 0;
    else if (option == "-i") params_.updaterDirectory = argument;
    else if (option == "-f") params_.birdFile = argument;
    else if (option == "-s") params_.serialPort = argument;
    else if (option == "-l") params_.historyMessage = argument;
    else if (option == "-k") params_.logFileName = argument;
    else if (option == "-u") params_.serverUrl = argument;
    else if (option == "-b") params_.buildNumber = std::to_string(decimal(argument));
    else if (option == "-o") params_.baudRate = decimal(argument);
    else if (option == "-d") return serial(argument, false, params_.serialNumber);
    else if (option == "-r") return serial(argument, true, params_.routerSerial);
    else if (option == "-t") return transport(argument);
    else if (option == "-Y") {
      display_.message(UpdaterDisplayInterface::error, "Unhandled command: [%s]", "-Y");
      return false;
    }
    return true;
  }

 private:
  static uint32_t decimal(const char* text) {
    char* end = nullptr;
    return _get_int_arg(text, &end);
  }

  bool serial(const char* argument, bool router, uint32_t& field) {
    if (argument[0] == '0' && (argument[1] == 'x' || argument[1] == 'X')) {
      Log::log(DEBUG_Updater, router ? "Discarding '0x' router serial number prefix\n"
                                     : "Discarding '0x' serial number prefix\n");
      argument += 2;
    }
    char* end = nullptr;
    field = _get_hex_arg(argument, &end);
    if (field != 0) return true;
    display_.message(UpdaterDisplayInterface::error,
                     router ? "Invalid router serial number obtained from argument [%s]"
                            : "Invalid serial number obtained from argument [%s]",
                     argument);
    return false;
  }

  bool transport(const char* argument) {
    params_.transportGiven = true;
    if (strncmp(argument, "USB", 3) == 0) {
      params_.transport = TRANSPORT_USB;
    } else if (strncmp(argument, "TCP", 3) == 0) {
      params_.transport = TRANSPORT_TCPIP;
    } else if (strncmp(argument, "RECOVER", 7) == 0) {
      params_.transport = RECOVER_TRANSPORT;
    } else {
      display_.message(UpdaterDisplayInterface::error,
                       "Invalid transport type:[%s]\nMust be one of the following: USB, TCPIP, RECOVER", argument);
      params_.transport = TRANSPORT_INVALID;
      return false;
    }
    return true;
  }

  void applyLogMask(const char* argument) {
    params_.logMaskGiven = true;
    char* rest = nullptr;
    const bool hex = argument[0] == '0' && (argument[1] == 'x' || argument[1] == 'X');
    params_.logMask = static_cast<uint32_t>(strtoul(hex ? argument + 2 : argument, &rest, hex ? 16 : 10));
    if (*rest != '\0') {
      display_.message(UpdaterDisplayInterface::error, "Invalid format for \"%s\" parameter, unprocessed characters [%s]",
                       "-X", rest);
      return;
    }
    Log::ActivatePackage(params_.logMask);
  }

  UpdaterDisplayInterface& display_;
  Parameters& params_;
};

void logCommandLine(const Parameters& params, const std::vector<const char*>& words) {
  Log::log(DEBUG_APP, "\nApplication parameters:[%s]\n", params.programName.c_str());
  for (const char* word : words) Log::log(DEBUG_APP, "\t[%s]\n", word);
}

std::string programNameOf(const char* path) {
  if (path == nullptr) return {};
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  return name;
}

}  // namespace

uint32_t _get_hex_arg(const char* text, char** end) { return digitsValue(text, end, "0123456789ABCDEFabcdef", 16); }

uint32_t _get_int_arg(const char* text, char** end) { return digitsValue(text, end, "0123456789", 10); }

int _validate_params(Parameters*) { return 0; }

int _release_params(Parameters*) { return 0; }

int _get_params(UpdaterDisplayInterface& display, int argc, char** argv, Parameters* params) {
  if (params == nullptr) return 1;
  *params = Parameters{};
  params->programName = programNameOf(argc > 0 ? argv[0] : nullptr);
  char home[2048];
  if (aDirectory_GetHomeDirectory(home, sizeof home) == aErrNone) params->homeDirectory = home;

  OptionScan scan(display, *params);
  std::vector<const char*> words;  // program path, options and their arguments
  std::vector<const char*> setAside;  // words that are not options
  if (argc > 0) words.push_back(argv[0]);
  bool failed = false;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (word[0] != '-') {
      setAside.push_back(word);
      continue;
    }
    words.push_back(word);
    std::string name(word);
    const char* argument = nullptr;
    if (const char* equals = strchr(word, '='); equals != nullptr) {
      name.assign(word, equals);
      argument = equals + 1;
    }
    const OptionRow* row = findOption(name);
    if (row == nullptr) continue;
    if (!row->takesArgument && argument != nullptr) continue;
    if (row->takesArgument && argument == nullptr) {
      if (i + 1 >= argc || argv[i + 1][0] == '-') continue;
      argument = argv[++i];
      words.push_back(argument);
    }
    if (row->optionClass == OPTION_HELP) {
      params->commands.Set(COMMAND_HELP);
      params->helpRequested = true;
      words.insert(words.end(), setAside.begin(), setAside.end());
      logCommandLine(*params, words);
      return 0;
    }
    if (!scan.apply(row->text, argument)) failed = true;
  }
  words.insert(words.end(), setAside.begin(), setAside.end());
  logCommandLine(*params, words);
  return failed ? 1 : _validate_params(params);
}
