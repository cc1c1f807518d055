// Runs a program of the project and captures what it wrote.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace wftest {

struct RunResult {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;  // standard output (through the terminal when asked)
  std::string err;  // standard error
};

struct RunOptions {
  bool stdoutOnTerminal = false;  // give the program a pseudo-terminal as stdout
  std::map<std::string, std::string> env;  // added to (or replacing in) the environment
  int timeoutSeconds = 60;
};

// `program` is a name in the build's bin directory or a path.
RunResult run(const std::string& program, const std::vector<std::string>& args, const RunOptions& options = {});

std::string binPath(const std::string& program);
std::string readFile(const std::string& path);

// A fresh directory that is removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace wftest
