#include "support/fake_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace wftest {

namespace {
constexpr int kPollMs = 50;
constexpr int kRequestTimeoutMs = 10000;
}  // namespace

FakeHttpServer::FakeHttpServer() {
  listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener, 16) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close(listener);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  thread = std::thread(&FakeHttpServer::serve, this);
}

FakeHttpServer::~FakeHttpServer() {
  stopping.store(true);
  thread.join();
  close(listener);
}

void FakeHttpServer::answer(int newStatus, std::string newBody) {
  std::lock_guard<std::mutex> lock(mutex);
  status = newStatus;
  body = std::move(newBody);
}

void FakeHttpServer::route(std::string marker, int routeStatus, std::string routeBody) {
  std::lock_guard<std::mutex> lock(mutex);
  routes.push_back({std::move(marker), routeStatus, std::move(routeBody)});
}

void FakeHttpServer::announce_length(bool announce) {
  std::lock_guard<std::mutex> lock(mutex);
  announceLength = announce;
}

std::vector<std::string> FakeHttpServer::targets() const {
  std::lock_guard<std::mutex> lock(mutex);
  return received;
}

std::string FakeHttpServer::url() const { return "http://127.0.0.1:" + std::to_string(port) + "/cgi/u"; }

void FakeHttpServer::serve() {
  while (!stopping.load()) {
    pollfd ready{listener, POLLIN, 0};
    if (poll(&ready, 1, kPollMs) <= 0) continue;
    const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    handle(connection);
    close(connection);
  }
}

// Reads the request head, records its target and sends the canned answer.
void FakeHttpServer::handle(int connection) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    pollfd readable{connection, POLLIN, 0};
    if (poll(&readable, 1, kRequestTimeoutMs) <= 0) return;
    const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    head.append(buffer, static_cast<size_t>(got));
  }
  const size_t start = head.find(' ') + 1;
  const size_t end = head.find(' ', start);
  std::string reply;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const std::string target = head.substr(start, end - start);
    received.push_back(target);
    int replyStatus = status;
    const std::string* replyBody = &body;
    for (const Reply& candidate : routes) {
      if (target.find(candidate.marker) == std::string::npos) continue;
      replyStatus = candidate.status;
      replyBody = &candidate.body;
      break;
    }
    reply = "HTTP/1.1 " + std::to_string(replyStatus) + " Canned\r\nContent-Type: text/plain\r\n";
    if (announceLength) reply += "Content-Length: " + std::to_string(replyBody->size()) + "\r\n";
    reply += "Connection: close\r\n\r\n" + *replyBody;
  }
  for (size_t sent = 0; sent < reply.size();) {
    const ssize_t put = send(connection, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
    if (put <= 0) return;
    sent += static_cast<size_t>(put);
  }
}

}  // namespace wftest
