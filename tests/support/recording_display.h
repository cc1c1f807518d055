// A display that records what the flows report, for tests.
#pragma once

#include <string>
#include <vector>

#include "updater/UpdaterDisplayInterface.h"

namespace wftest {

class RecordingDisplay final : public UpdaterDisplayInterface {
 public:
  void display_progress(bool show) override { progressShown.push_back(show); }
  void update_progress(double fraction, const char*) override { progress.push_back(fraction); }
  void update_spinner(bool active, const char*) override { spins += active ? 1 : 0; }
  void info_message(const char* text) override { infos.emplace_back(text); }
  void error_message(const char* text) override { errors.emplace_back(text); }

  std::vector<std::string> infos;
  std::vector<std::string> errors;
  std::vector<bool> progressShown;
  std::vector<double> progress;
  int spins = 0;
};

}  // namespace wftest
