// wfsim CONFIG.json [--log FILE] [--virtual-bus SOCKET]: simulates the modules the file describes.
// See README.md for the configuration, the output and the control commands.
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "Config.h"
#include "PacketLog.h"
#include "Simulator.h"

namespace {

void _usage(FILE* out) { fprintf(out, "usage: wfsim CONFIG.json [--log FILE] [--virtual-bus SOCKET]\n"); }

}  // namespace

int main(int argc, char** argv) {
  std::string configPath;
  std::string logPath;
  std::string busSocket;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
      logPath = argv[++i];
    } else if (strcmp(argv[i], "--virtual-bus") == 0 && i + 1 < argc) {
      busSocket = argv[++i];
    } else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      _usage(stdout);
      return 0;
    } else if (configPath.empty() && argv[i][0] != '-') {
      configPath = argv[i];
    } else {
      _usage(stderr);
      return 2;
    }
  }
  if (configPath.empty()) {
    _usage(stderr);
    return 2;
  }
  try {
    wfsim::SimConfig config = wfsim::loadConfig(configPath);
    config.virtualBusSocket = busSocket;
    std::unique_ptr<wfsim::PacketLog> log =
        logPath.empty() ? std::make_unique<wfsim::PacketLog>() : std::make_unique<wfsim::PacketLog>(logPath);
    wfsim::Simulator simulator(config, *log);
    return simulator.run();
  } catch (const std::exception& error) {
    fprintf(stderr, "wfsim: %s\n", error.what());
    return 2;
  }
}
