// Terminal implementation of the display: messages on stdout/stderr, and
// progress bars and spinners drawn only when standard output is a terminal.
#pragma once

#include "updater/UpdaterDisplayInterface.h"

class CLI_Display final : public UpdaterDisplayInterface {
 public:
  CLI_Display();
  ~CLI_Display() = default;

  void display_progress(bool show) override;
  void update_progress(double fraction, const char* label) override;
  void update_spinner(bool active, const char* label) override;
  void info_message(const char* text) override;
  void error_message(const char* text) override;
};
