// wfmirror: a local update server. Answers the updater's queries on /cgi/u
// from a firmware directory, logs every request, and runs until SIGINT or
// SIGTERM.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "Mirror.h"

namespace {

constexpr const char* kUsage =
    "usage: wfmirror --root DIR [--listen ADDRESS:PORT] [--log FILE]\n"
    "  --root DIR       firmware directory (layout in tools/wfmirror/README.md)\n"
    "  --listen A:P     address and port to serve on; port 0 takes any free port\n"
    "                   (default 127.0.0.1:0). The bound port is printed as\n"
    "                   \"listening ADDRESS:PORT\" on standard output.\n"
    "  --log FILE       append the request log to FILE instead of standard error\n";

struct Options {
  std::string root;
  std::string host = "127.0.0.1";
  int port = 0;
  std::string log;
};

bool _parse_listen(const std::string& text, Options& options) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  options.port = std::stoi(port);
  options.host = text.substr(0, colon);
  return options.port <= 65535;
}

bool _parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (arg == "--root")
      options.root = value;
    else if (arg == "--listen") {
      if (!_parse_listen(value, options)) return false;
    } else if (arg == "--log")
      options.log = value;
    else
      return false;
  }
  return !options.root.empty();
}

// One line per request, whole lines only, from any server thread.
class RequestLog {
 public:
  explicit RequestLog(FILE* stream) : out(stream) {}
  void write(const httplib::Request& request, const httplib::Response& response) {
    std::lock_guard<std::mutex> lock(mutex);
    fprintf(out, "wfmirror: %s %s %s -> %d (%zu bytes)\n", request.remote_addr.c_str(), request.method.c_str(),
            request.target.c_str(), response.status, response.body.size());
    fflush(out);
  }

 private:
  std::mutex mutex;
  FILE* out;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!_parse(argc, argv, options)) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::error_code error;
  if (!std::filesystem::is_directory(options.root, error)) {
    fprintf(stderr, "wfmirror: %s is not a directory\n", options.root.c_str());
    return 1;
  }
  FILE* logStream = stderr;
  if (!options.log.empty() && (logStream = fopen(options.log.c_str(), "a")) == nullptr) {
    fprintf(stderr, "wfmirror: cannot open log %s: %s\n", options.log.c_str(), strerror(errno));
    return 1;
  }

  // The server's threads inherit this mask; one thread takes the signals and
  // stops the server, outside any signal handler.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  const Mirror mirror(options.root);
  RequestLog requestLog(logStream);
  httplib::Server server;
  // Each request is logged before its answer leaves, so the log lists the
  // requests of one client in the order it made them.
  const auto answer = [&requestLog](const httplib::Request& req, httplib::Response& res, MirrorAnswer reply) {
    res.status = reply.status;
    res.body = std::move(reply.body);  // a bird file's answer runs to megabytes: not copied
    res.set_header("Content-Type", "text/plain");
    requestLog.write(req, res);
  };
  server.Get("/cgi/u", [&mirror, &answer](const httplib::Request& req, httplib::Response& res) {
    answer(req, res, mirror.Answer(req.params));
  });
  server.Get(".*", [&answer](const httplib::Request& req, httplib::Response& res) {
    answer(req, res, {404, "error: no such path\n"});
  });

  int port = options.port;
  if (port == 0)
    port = server.bind_to_any_port(options.host);
  else if (!server.bind_to_port(options.host, port))
    port = -1;
  if (port <= 0) {
    fprintf(stderr, "wfmirror: cannot listen on %s:%d\n", options.host.c_str(), options.port);
    return 1;
  }
  printf("listening %s:%d\n", options.host.c_str(), port);
  fflush(stdout);

  std::atomic<bool> ended{false};
  std::thread stopper([&server, &stopSignals, &ended] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    // A stop that comes before the server loop has started is lost, so it is
    // repeated until the loop has ended.
    while (!ended.load()) {
      server.stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const bool served = server.listen_after_bind();
  ended.store(true);
  // The server may also end without a signal; wake the stopper then.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  if (logStream != stderr) fclose(logStream);
  return served ? 0 : 1;
}
