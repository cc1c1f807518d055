// The questions the updater asks the update server. Each is one GET of the
// server's query script; every answer is a text of lines whose first line
// begins with "ok". None of these throws: every failure is a false result.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/Parameters.h"

class UpdateServerRequest {
 public:
  // Used when an operation is given a null URL.
  static constexpr const char* default_url = DEFAULT_SERVER_URL;

  // True when the server answers status 200 with a first line beginning "ok".
  static bool ping(const char* url);
  // The module's latest build (line 2) and the firmware identifier that
  // GetBuild sends back (line 3); each set only when present.
  static bool QueryBuild(unsigned int serial, std::string& build, std::string& firmware, const char* url);
  // The bird file of one build, base64 text (line 2; empty when absent).
  static bool GetBuild(unsigned int serial, const char* firmware, const char* build, std::string& bird,
                       const char* url, bool noCal);
  // Build number text to version text; cleared before asking.
  static bool GetBuildList(unsigned int serial, std::map<std::string, std::string>& builds, const char* url);
  // The module and build that belong to a processor's four fingerprint words.
  static bool GetRecoveryInfo(const unsigned int* fingerprint, unsigned int* serial, unsigned int* build,
                              const char* url);
  // The module's feature token: three "."-separated parts.
  static bool GetDeviceJWT(unsigned int serial, std::string& token, const char* url);

  // The (build, version) pairs ordered by version, newest first; versions
  // that are not three numbers come after all the others.
  static std::vector<std::pair<std::string, std::string>> SortBuildsByVersion(
      const std::map<std::string, std::string>& builds);
  // The parts of `version` between "."; empty unless there are exactly three.
  static std::vector<std::string> SplitWrenfieldVersion(std::string version);
};
