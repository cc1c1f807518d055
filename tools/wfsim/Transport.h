// How a simulated module is reached: transports hand the bytes of their
// current connection to the module's link side and carry its answers back.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Packet.h"

namespace wfsim {

// One poll(2) round: every party adds the descriptors it waits on with the
// handler to call, and the earliest time it must be woken.
class Poller {
 public:
  using Handler = std::function<void(short revents)>;
  void add(int fd, short events, Handler handler);
  void wakeAt(uint64_t ms);
  // Waits at most until the earliest wake time (capped) and runs the
  // handlers of the ready descriptors. False when poll failed.
  bool run(uint64_t now, int capMs);

 private:
  struct Entry {
    int fd;
    short events;
    Handler handler;
  };
  std::vector<Entry> entries_;
  std::optional<uint64_t> wake_;
};

// A byte pipe to the host over a non-blocking descriptor, with the bytes
// waiting to go out (some held back on purpose until a due time).
class Connection {
 public:
  explicit Connection(int fd);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  int fd() const { return fd_; }
  // Queues bytes to leave at `dueMs` or later, never before earlier bytes.
  void send(const std::vector<uint8_t>& bytes, uint64_t dueMs);
  // Writes what is due. False when the host is gone.
  bool flush(uint64_t now);
  std::optional<uint64_t> nextDue() const;
  bool blocked() const { return blocked_; }  // the descriptor refused bytes that are due
  // Reads what is there; 0 at the end of the stream, -1 with errno set.
  ssize_t receive(uint8_t* buffer, size_t size);

  PacketAssembler assembler;
  bool live = false;  // the host has been heard from on this connection

 private:
  struct Pending {
    uint64_t due;
    std::vector<uint8_t> bytes;
  };
  int fd_;
  std::deque<Pending> pending_;
  size_t pendingBytes_ = 0;
  bool blocked_ = false;
};

class Transport;

// The module side that the transports feed.
class LinkSide {
 public:
  virtual ~LinkSide() = default;
  virtual void received(Transport& transport, Connection& connection, const uint8_t* bytes, size_t length) = 0;
  virtual void note(Transport& transport, const std::string& text) = 0;
};

class Transport {
 public:
  virtual ~Transport() = default;
  // The line announcing the transport on standard output.
  virtual std::string readyLine() const = 0;
  // "tcp", "serial" or "usb-node", as the log names it.
  virtual const char* kind() const = 0;
  virtual void watch(Poller& poller) = 0;
  // The current connection to the host, or null.
  virtual Connection* connection() = 0;
  // Drops the connection as a module that goes away would.
  virtual void disconnect() = 0;
};

}  // namespace wfsim
