// The control commands read from standard input, one per line. Every
// command is answered on standard output by zero or more information lines
// and then one line "ok" or "error: <reason>".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ModuleLink.h"

namespace wfsim {

class Control {
 public:
  explicit Control(std::vector<std::unique_ptr<ModuleLink>>& links) : links_(links) {}
  // The answer lines for one command line.
  std::vector<std::string> execute(const std::string& line);
  bool quitRequested() const { return quit_; }

 private:
  ModuleLink& selected() { return *links_[selected_]; }

  std::vector<std::unique_ptr<ModuleLink>>& links_;
  size_t selected_ = 0;
  bool quit_ = false;
};

}  // namespace wfsim
