// A minimal HTTP server on 127.0.0.1 that gives canned answers and records the
// request targets, so a client's URLs and answer parsing can be checked
// against exact bytes. Runs only inside the tests' private namespace.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wftest {

class FakeHttpServer {
 public:
  FakeHttpServer();
  ~FakeHttpServer();
  FakeHttpServer(const FakeHttpServer&) = delete;
  FakeHttpServer& operator=(const FakeHttpServer&) = delete;

  // Every following request gets this status and body, unless a route
  // matches it.
  void answer(int status, std::string body);
  // Requests whose target contains `marker` get this status and body; the
  // first route added that matches wins.
  void route(std::string marker, int status, std::string body);
  // Without the Content-Length header the answer runs until the connection
  // closes, as a server that streams its answer sends it.
  void announce_length(bool announce);
  // The request targets (path and query, as sent) received so far.
  std::vector<std::string> targets() const;
  // "http://127.0.0.1:PORT/cgi/u"
  std::string url() const;

 private:
  void serve();
  void handle(int connection);

  int listener = -1;
  int port = 0;
  std::atomic<bool> stopping{false};
  mutable std::mutex mutex;
  struct Reply {
    std::string marker;
    int status;
    std::string body;
  };
  std::vector<Reply> routes;
  int status = 200;
  std::string body = "ok\n";
  bool announceLength = true;
  std::vector<std::string> received;
  std::thread thread;
};

}  // namespace wftest
