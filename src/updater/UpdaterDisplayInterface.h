// The console output interface through which every flow reports.
#pragma once

class UpdaterDisplayInterface {
 public:
  enum Level { info = 0, error = 1 };

  // Formats into a 2048-byte buffer (cut to 2047 characters) and passes the
  // text to error_message for Level error, to info_message otherwise.
  // Does nothing while muted.
  void message(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void mute_messages(bool mute) { muted = mute; }

  virtual void display_progress(bool show) = 0;
  virtual void update_progress(double fraction, const char* label) = 0;
  virtual void update_spinner(bool active, const char* label) = 0;
  virtual void info_message(const char* text) = 0;
  virtual void error_message(const char* text) = 0;

 protected:
  UpdaterDisplayInterface() = default;
  // Owned by main for the whole run; never deleted through this interface.
  ~UpdaterDisplayInterface() = default;

 private:
  bool muted = false;
};
