#include "PacketLog.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace wfsim {

uint64_t nowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

PacketLog::PacketLog() : out_(stderr), owned_(false), startMs_(nowMs()) {}

PacketLog::PacketLog(const std::string& path) : out_(fopen(path.c_str(), "a")), owned_(true), startMs_(nowMs()) {
  if (out_ == nullptr) throw std::runtime_error("cannot open log " + path + ": " + strerror(errno));
}

PacketLog::~PacketLog() {
  if (owned_) fclose(out_);
}

void PacketLog::packet(const std::string& who, const std::string& transport, Direction direction,
                       const Packet& packet) {
  char head[64];
  snprintf(head, sizeof head, "address=0x%02X length=%zu data=", packet.address, packet.data.size());
  line(who + " " + transport + (direction == Direction::Received ? " rx " : " tx ") + head + hexBytes(packet.data));
}

void PacketLog::raw(const std::string& who, const std::string& transport, Direction direction,
                    const std::vector<uint8_t>& bytes) {
  line(who + " " + transport + (direction == Direction::Received ? " rx raw=" : " tx raw=") + hexBytes(bytes));
}

void PacketLog::note(const std::string& who, const std::string& transport, const std::string& text) {
  line(who + " " + transport + " note " + text);
}

void PacketLog::line(const std::string& text) {
  fprintf(out_, "%llu %s\n", static_cast<unsigned long long>(nowMs() - startMs_), text.c_str());
  fflush(out_);
}

}  // namespace wfsim
