// An in-test stand-in for a module on the far side of a link: it serves a
// descriptor (a pseudo-terminal master or an accepted TCP connection), answers
// address queries, records every packet the host sends, answers them through
// an optional responder and lets a test inject raw bytes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace wftest {

using Bytes = std::vector<uint8_t>;

class ModulePeer {
 public:
  // Serves `descriptor` (taken); with listen set it is a listening socket and
  // each accepted connection is served in turn.
  ModulePeer(int descriptor, bool listening, uint8_t address = 0x06)
      : fd_(descriptor), listening_(listening), address_(address), thread_([this] { run(); }) {}
  ~ModulePeer() {
    stop_ = true;
    thread_.join();
    closeConnection();
    if (listening_ && fd_ >= 0) close(fd_);
  }
  ModulePeer(const ModulePeer&) = delete;
  ModulePeer& operator=(const ModulePeer&) = delete;

  // A listener on 127.0.0.1 with a free port.
  static int listenLoopback(uint16_t* port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd, 4);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    *port = ntohs(address.sin_port);
    return fd;
  }

  void setAnswering(bool answer) { answering_ = answer; }
  // Framed packets to send back for each framed packet the host sends (other
  // than address queries). It runs on the peer's thread.
  using Responder = std::function<std::vector<Bytes>(const Bytes& packet)>;
  void setResponder(Responder responder) {
    std::lock_guard<std::mutex> guard(lock_);
    responder_ = std::move(responder);
  }
  // Closes the current connection and (when `refuse`) stops accepting new ones.
  void dropConnection(bool refuse) {
    std::lock_guard<std::mutex> guard(lock_);
    if (refuse && listening_ && fd_ >= 0) {
      close(fd_);
      fd_ = -1;
    }
    closeConnectionLocked();
  }

  void inject(const Bytes& bytes) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_for(guard, std::chrono::seconds(20), [&] { return connection_ >= 0; });
    size_t sent = 0;
    while (connection_ >= 0 && sent < bytes.size()) {
      const ssize_t count = write(connection_, bytes.data() + sent, bytes.size() - sent);
      if (count <= 0) break;
      sent += static_cast<size_t>(count);
    }
  }

  std::vector<Bytes> packets() {
    std::lock_guard<std::mutex> guard(lock_);
    return received_;
  }
  size_t count(const Bytes& packet) {
    std::lock_guard<std::mutex> guard(lock_);
    return countLocked(packet);
  }
  // Waits (bounded) until the host has sent `packet` at least `times` times.
  bool awaitPacket(const Bytes& packet, size_t times = 1, int timeoutMs = 20000) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return countLocked(packet) >= times; });
  }
  // Waits (bounded) until `count` connections have been accepted in all.
  bool awaitConnections(int count) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(20), [&] { return connections_ >= count; });
  }

 private:
  size_t countLocked(const Bytes& packet) const {
    size_t n = 0;
    for (const auto& p : received_) n += p == packet;
    return n;
  }
  void closeConnection() {
    std::lock_guard<std::mutex> guard(lock_);
    closeConnectionLocked();
  }
  void closeConnectionLocked() {
    if (connection_ >= 0) close(connection_);
    connection_ = -1;
    pending_.clear();
  }

  void run() {
    if (!listening_) {
      std::lock_guard<std::mutex> guard(lock_);
      connection_ = fd_;
      ++connections_;
    }
    while (!stop_) {
      int serving = -1, listener = -1;
      {
        std::lock_guard<std::mutex> guard(lock_);
        serving = connection_;
        listener = fd_;
      }
      if (serving < 0) {
        if (!listening_ || listener < 0) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
          continue;
        }
        pollfd entry{listener, POLLIN, 0};
        if (poll(&entry, 1, 50) <= 0) continue;
        const int accepted = accept(listener, nullptr, nullptr);
        if (accepted < 0) continue;
        std::lock_guard<std::mutex> guard(lock_);
        connection_ = accepted;
        ++connections_;
        changed_.notify_all();
        continue;
      }
      pollfd entry{serving, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      uint8_t buffer[4096];
      const ssize_t count = read(serving, buffer, sizeof buffer);
      if (count <= 0) {
        if (listening_) {
          closeConnection();
        } else {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));  // pty without a slave yet
        }
        continue;
      }
      take(serving, buffer, static_cast<size_t>(count));
    }
  }

  // Frames the host's bytes into packets and answers address queries.
  void take(int serving, const uint8_t* bytes, size_t count) {
    std::lock_guard<std::mutex> guard(lock_);
    pending_.insert(pending_.end(), bytes, bytes + count);
    while (pending_.size() >= 2 && pending_.size() >= 2u + pending_[1]) {
      Bytes packet(pending_.begin(), pending_.begin() + 2 + pending_[1]);
      pending_.erase(pending_.begin(), pending_.begin() + 2 + pending_[1]);
      if (packet == Bytes{0xAD, 0x00}) {
        if (answering_) {
          const uint8_t answer[] = {address_, 0x00};
          (void)!write(serving, answer, sizeof answer);
        }
      } else if (responder_) {
        for (const Bytes& reply : responder_(packet)) (void)!write(serving, reply.data(), reply.size());
      }
      received_.push_back(std::move(packet));
    }
    changed_.notify_all();
  }

  int fd_;
  const bool listening_;
  const uint8_t address_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> answering_{true};
  std::mutex lock_;
  std::condition_variable changed_;
  int connection_ = -1;
  int connections_ = 0;
  Bytes pending_;
  std::vector<Bytes> received_;
  Responder responder_;
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace wftest
