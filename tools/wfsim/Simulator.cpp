#include "Simulator.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace wfsim {

namespace {

constexpr int kLongestWaitMs = 1000;
constexpr size_t kLongestCommand = 4096;

volatile std::sig_atomic_t gStop = 0;

void _onSignal(int) { gStop = 1; }

void _installSignals() {
  struct sigaction action {};
  action.sa_handler = _onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: poll returns at once
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a host that went away is seen at the write
}

void _print(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) printf("%s\n", line.c_str());
  fflush(stdout);
}

}  // namespace

Simulator::Simulator(const SimConfig& config, PacketLog& log) : control_(links_) {
  for (const ModuleConfig& module : config.modules) links_.push_back(std::make_unique<ModuleLink>(module, log));
  bus_ = VirtualBus::create(config, links_, log);
}

int Simulator::run() {
  _installSignals();
  std::vector<std::string> lines;
  for (const std::unique_ptr<ModuleLink>& link : links_) {
    for (const std::string& line : link->readyLines()) lines.push_back(line);
  }
  if (bus_) lines.push_back(bus_->readyLine());
  lines.push_back("ready");
  _print(lines);

  while (gStop == 0 && !control_.quitRequested()) {
    Poller poller;
    if (controlOpen_) poller.add(STDIN_FILENO, POLLIN, [this](short) { readControl(); });
    for (const std::unique_ptr<ModuleLink>& link : links_) link->watch(poller);
    if (bus_) bus_->watch(poller);
    if (!poller.run(nowMs(), kLongestWaitMs)) {
      perror("wfsim: poll");
      return 1;
    }
    uint64_t now = nowMs();
    for (const std::unique_ptr<ModuleLink>& link : links_) link->tick(now);
    if (bus_) bus_->tick(now);
  }
  return 0;
}

void Simulator::readControl() {
  char buffer[1024];
  ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
  if (n <= 0) {
    // No more commands (stdin closed or not connected): keep simulating.
    controlOpen_ = n < 0 && (errno == EINTR || errno == EAGAIN);
    return;
  }
  controlBuffer_.append(buffer, static_cast<size_t>(n));
  size_t end;
  while ((end = controlBuffer_.find('\n')) != std::string::npos) {
    std::string line = controlBuffer_.substr(0, end);
    controlBuffer_.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    _print(bus_ && VirtualBus::isCommand(line) ? bus_->execute(line) : control_.execute(line));
  }
  if (controlBuffer_.size() > kLongestCommand) {
    controlBuffer_.clear();
    _print({"error: command too long"});
  }
}

}  // namespace wfsim
