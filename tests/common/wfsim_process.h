// Runs build/bin/wfsim with a configuration, reads its transport lines and
// drives its control commands.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/process.h"

namespace wftest {

class Wfsim {
 public:
  Wfsim(const std::string& config, const TempDir& dir) {
    const std::string configPath = dir / "wfsim.json";
    std::ofstream(configPath) << config;
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe");
    const std::string program = binPath("wfsim"), log = dir / "wfsim.log";
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      close(in[1]);
      close(out[0]);
      execl(program.c_str(), program.c_str(), configPath.c_str(), "--log", log.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toSim_ = in[1];
    fromSim_ = out[0];
    for (std::string line = readLine(); line != "ready"; line = readLine()) {
      if (line.empty()) throw std::runtime_error("wfsim did not become ready");
      transports_.push_back(line);
    }
  }
  ~Wfsim() {
    (void)!write(toSim_, "quit\n", 5);
    close(toSim_);
    int status = 0;
    for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; ++i) usleep(50000);
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    close(fromSim_);
  }
  Wfsim(const Wfsim&) = delete;
  Wfsim& operator=(const Wfsim&) = delete;

  // The third word of the transport line of this kind ("tcp", "pty"), in order.
  std::string endpoint(const std::string& kind, size_t index = 0) const {
    for (const auto& line : transports_) {
      std::istringstream words(line);
      std::string type, serial, where;
      words >> type >> serial >> where;
      if (type == kind && index-- == 0) return where;
    }
    return {};
  }

  // Sends one control command; returns its information lines and the final
  // "ok" or "error: ..." line, joined by newlines.
  std::string command(const std::string& line) {
    const std::string text = line + "\n";
    if (write(toSim_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return {};
    std::string answer;
    for (;;) {
      const std::string reply = readLine();
      answer += reply;
      if (reply.empty() || reply == "ok" || reply.rfind("error", 0) == 0) return answer;
      answer += "\n";
    }
  }

 private:
  // One line of wfsim's output without its newline; empty after 20 s of silence or at its end.
  std::string readLine() {
    for (;;) {
      const size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      pollfd entry{fromSim_, POLLIN, 0};
      if (poll(&entry, 1, 20000) <= 0) return {};
      char chunk[512];
      const ssize_t count = read(fromSim_, chunk, sizeof chunk);
      if (count <= 0) return {};
      buffer_.append(chunk, static_cast<size_t>(count));
    }
  }

  pid_t pid_ = -1;
  int toSim_ = -1;
  int fromSim_ = -1;
  std::string buffer_;
  std::vector<std::string> transports_;
};

}  // namespace wftest
