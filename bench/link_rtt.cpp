// Link engine figures against a module simulator on a TCP port whose module
// (address 6) echoes packets with command 0x7E:
//   link_rtt_ratio     median round trip of one request and its reply through
//                      the link engine, over a bare TCP ping-pong of the same
//                      bytes between the same two processes, in alternating blocks
//   idle_link_cpu_pct  CPU of this process while it holds one open idle link
//   link_pooled_pps    echoed packets per second with pooled output on
// Usage: bench_link_rtt ADDRESS:PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "common/aLink.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kAddress = 0x06;
constexpr uint8_t kEcho = 0x7E;
constexpr int kBlocks = 5;
constexpr int kRoundsPerBlock = 400;
constexpr int kPooledPackets = 20000;
constexpr int kPooledWindow = 200;
constexpr int kIdleSeconds = 5;

uint32_t gAddress = 0;
uint16_t gPort = 0;

double microseconds(Clock::duration elapsed) {
  return std::chrono::duration<double, std::micro>(elapsed).count();
}

uint8_t isEcho(const aPacket* packet, const void*) { return packet->length >= 1 && packet->data[0] == kEcho; }

aLinkRef openLink() {
  const aLinkRef link = aLink_CreateTCPIP(gAddress, gPort);
  if (link == 0 || aLink_Sync(link) != aErrNone) {
    fprintf(stderr, "bench_link_rtt: no link to the simulator\n");
    exit(1);
  }
  return link;
}

void linkRoundTrips(std::vector<double>* samples) {
  aLinkRef link = openLink();
  const uint8_t data[] = {kEcho, 0x01, 0x13};
  aPacket* request = aPacket_CreateWithData(kAddress, sizeof data, data);
  for (int i = 0; i < kRoundsPerBlock; ++i) {
    const auto start = Clock::now();
    aLink_PutPacket(link, request);
    aPacket* reply = aLink_AwaitFirst(link, isEcho, nullptr, 1000);
    const auto elapsed = Clock::now() - start;
    if (reply != nullptr) samples->push_back(microseconds(elapsed));
    aPacket_Destroy(&reply);
  }
  aPacket_Destroy(&request);
  aLink_Destroy(&link);
}

void bareRoundTrips(std::vector<double>* samples) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(gPort);
  address.sin_addr.s_addr = gAddress;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    fprintf(stderr, "bench_link_rtt: cannot connect\n");
    exit(1);
  }
  const uint8_t request[] = {kAddress, 3, kEcho, 0x01, 0x13};
  timeval timeout{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  for (int i = 0; i < kRoundsPerBlock; ++i) {
    const auto start = Clock::now();
    if (send(fd, request, sizeof request, MSG_NOSIGNAL) != sizeof request) break;
    uint8_t reply[sizeof request];
    size_t got = 0;
    while (got < sizeof reply) {
      const ssize_t count = recv(fd, reply + got, sizeof reply - got, 0);
      if (count <= 0) break;
      got += static_cast<size_t>(count);
    }
    if (got == sizeof reply) samples->push_back(microseconds(Clock::now() - start));
  }
  close(fd);
}

double median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double idleCpuPercent() {
  aLinkRef link = openLink();
  const double cpuBefore = cpuSeconds();
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = cpuSeconds() - cpuBefore;
  aLink_Destroy(&link);
  return 100.0 * cpu / wall;
}

double pooledPacketsPerSecond() {
  aLinkRef link = openLink();
  aLink_EnablePooledPackets(link, true);
  const uint8_t data[] = {kEcho, 0x02, 0x13};
  aPacket* request = aPacket_CreateWithData(kAddress, sizeof data, data);
  int sent = 0, echoed = 0;
  const auto start = Clock::now();
  while (echoed < kPooledPackets) {
    while (sent < kPooledPackets && sent - echoed < kPooledWindow) {
      aLink_PutPacket(link, request);
      ++sent;
    }
    aPacket* reply = aLink_AwaitFirst(link, isEcho, nullptr, 2000);
    if (reply == nullptr) break;  // a lost echo ends the run; the figure says how far it got
    aPacket_Destroy(&reply);
    ++echoed;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  aPacket_Destroy(&request);
  aLink_Destroy(&link);
  return echoed / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string where = argc > 1 ? argv[1] : "";
  const size_t colon = where.rfind(':');
  if (colon == std::string::npos) {
    fprintf(stderr, "usage: bench_link_rtt ADDRESS:PORT\n");
    return 2;
  }
  gAddress = inet_addr(where.substr(0, colon).c_str());
  gPort = static_cast<uint16_t>(std::stoi(where.substr(colon + 1)));

  // Alternate the two so that load on the machine hits both alike.
  std::vector<double> throughLink, bare;
  for (int block = 0; block < kBlocks; ++block) {
    linkRoundTrips(&throughLink);
    bareRoundTrips(&bare);
  }
  const double linkUs = median(throughLink), bareUs = median(bare);
  printf("link_rtt_us: %.1f us\n", linkUs);
  printf("bare_tcp_rtt_us: %.1f us\n", bareUs);
  printf("link_rtt_ratio: %.2f x\n", bareUs > 0 ? linkUs / bareUs : 0.0);
  printf("idle_link_cpu_pct: %.2f %%\n", idleCpuPercent());
  printf("link_pooled_pps: %.0f packets/s\n", pooledPacketsPerSecond());
  return 0;
}
