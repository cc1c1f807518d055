// The simulator's traffic log: one line per packet or event, on standard
// error or in a file.
//
//   <ms> <serial> <transport> rx|tx address=0xAD length=0 data=
//   <ms> <serial> <transport> rx|tx raw=FF FF            (bytes outside packets)
//   <ms> <serial> <transport> note <text>
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Packet.h"

namespace wfsim {

class PacketLog {
 public:
  PacketLog();  // standard error
  explicit PacketLog(const std::string& path);  // throws std::runtime_error
  ~PacketLog();
  PacketLog(const PacketLog&) = delete;
  PacketLog& operator=(const PacketLog&) = delete;

  enum class Direction { Received, Sent };
  void packet(const std::string& who, const std::string& transport, Direction direction, const Packet& packet);
  void raw(const std::string& who, const std::string& transport, Direction direction, const std::vector<uint8_t>& bytes);
  void note(const std::string& who, const std::string& transport, const std::string& text);

 private:
  void line(const std::string& text);
  FILE* out_;
  bool owned_;
  uint64_t startMs_;
};

uint64_t nowMs();  // monotonic milliseconds

}  // namespace wfsim
