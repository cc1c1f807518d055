#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "common/aStream.h"
#include "support/process.h"

namespace {

using Clock = std::chrono::steady_clock;

// A scripted source: hands out its bytes, then answers "not yet" (or the end).
struct Script {
  std::deque<uint8_t> bytes;
  bool endAtEmpty = false;
  std::string written;
  int puts = 0;
  int writes = 0;
};

aErr scriptGet(uint8_t* byte, void* reference) {
  auto* script = static_cast<Script*>(reference);
  if (script->bytes.empty()) return script->endAtEmpty ? aErrEOF : aErrNotReady;
  *byte = script->bytes.front();
  script->bytes.pop_front();
  return aErrNone;
}
aErr scriptPut(uint8_t byte, void* reference) {
  auto* script = static_cast<Script*>(reference);
  ++script->puts;
  script->written.push_back(static_cast<char>(byte));
  return aErrNone;
}
aErr scriptWrite(const uint8_t* data, size_t length, void* reference) {
  auto* script = static_cast<Script*>(reference);
  ++script->writes;
  script->written.append(reinterpret_cast<const char*>(data), length);
  return aErrNone;
}

class ScriptedStream : public ::testing::Test {
 protected:
  void SetUp() override { stream = aStream_Create(scriptGet, scriptPut, scriptWrite, nullptr, &script); }
  void TearDown() override { EXPECT_EQ(aStream_Destroy(&stream), aErrNone); }
  void feed(const std::string& text) { script.bytes.insert(script.bytes.end(), text.begin(), text.end()); }
  Script script;
  aStreamRef stream = nullptr;
};

TEST_F(ScriptedStream, ReadIsAllOrNothing) {
  uint8_t buffer[4] = {9, 9, 9, 9};
  feed("ab");
  EXPECT_EQ(aStream_Read(stream, buffer, 4), aErrNotReady);
  EXPECT_EQ(buffer[0], 9);
  feed("cd");
  ASSERT_EQ(aStream_Read(stream, buffer, 4), aErrNone);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "abcd");

  script.endAtEmpty = true;
  feed("x");
  EXPECT_EQ(aStream_Read(stream, buffer, 4), aErrEOF);
  EXPECT_EQ(buffer[0], 'x');
}

TEST_F(ScriptedStream, PushBackRingGrowsAndKeepsOrder) {
  std::vector<uint8_t> expected;
  for (int i = 0; i < 600; ++i) {
    expected.push_back(static_cast<uint8_t>(i * 7));
    ASSERT_EQ(aStreamBufferChar(stream, expected.back()), aErrNone);
  }
  EXPECT_EQ(aStream_AwaitInput(stream, 0), aErrNone);
  std::vector<uint8_t> got(600);
  ASSERT_EQ(aStream_Read(stream, got.data(), got.size()), aErrNone);
  EXPECT_EQ(got, expected);
  // Wrapped ring: take a few, push more, everything comes back in order.
  for (uint8_t b : {1, 2, 3}) aStreamBufferChar(stream, b);
  uint8_t one = 0;
  ASSERT_EQ(aStream_Read(stream, &one, 1), aErrNone);
  EXPECT_EQ(one, 1);
  feed("Z");
  uint8_t rest[3] = {};
  ASSERT_EQ(aStream_Read(stream, rest, 3), aErrNone);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rest), 3), std::string("\x02\x03Z"));
}

TEST_F(ScriptedStream, CStringReaders) {
  char buffer[16];
  feed(std::string("hello\0world", 11));
  EXPECT_EQ(aStream_ReadCString(stream, buffer, sizeof buffer), aErrNone);
  EXPECT_STREQ(buffer, "hello");
  char small[4];
  EXPECT_EQ(aStream_ReadCString(stream, small, sizeof small), aErrNone);
  EXPECT_STREQ(small, "wor");

  script.bytes.clear();
  feed("line one\r\nrest");
  EXPECT_EQ(aStream_ReadCStringRecord(stream, buffer, sizeof buffer, "\r\n"), aErrNone);
  EXPECT_STREQ(buffer, "line one");
  // No terminator yet: nothing is consumed.
  EXPECT_EQ(aStream_ReadCStringRecord(stream, buffer, sizeof buffer, "\r\n"), aErrNotReady);
  feed("\r\r\n");
  EXPECT_EQ(aStream_ReadCStringRecord(stream, buffer, sizeof buffer, "\r\n"), aErrNone);
  EXPECT_STREQ(buffer, "rest\r");
}

TEST_F(ScriptedStream, WriteChoosesPutOrWrite) {
  const uint8_t data[] = {'a', 'b'};
  EXPECT_EQ(aStream_Write(stream, data, 1), aErrNone);
  EXPECT_EQ(script.puts, 1);
  EXPECT_EQ(aStream_Write(stream, data, 2), aErrNone);
  EXPECT_EQ(script.writes, 1);
  EXPECT_EQ(aStream_WriteCStringRecord(stream, "hi", "\n"), aErrNone);
  EXPECT_EQ(script.written, std::string("aabhi\n\0", 7));
}

TEST(Stream, RefusesInvalidHandlesAndMissingOperations) {
  aStreamRef none = nullptr;
  EXPECT_EQ(aStream_Destroy(&none), aErrParam);
  uint8_t byte = 0;
  EXPECT_EQ(aStream_Read(nullptr, &byte, 1), aErrParam);
  aStreamRef writeOnly = aStream_Create(nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(aStream_Read(writeOnly, &byte, 1), aErrMode);
  EXPECT_EQ(aStream_Write(writeOnly, &byte, 1), aErrMode);
  EXPECT_EQ(aStream_Destroy(&writeOnly), aErrNone);
  EXPECT_EQ(writeOnly, nullptr);
}

TEST(FileStream, FlushCopiesAFile) {
  wftest::TempDir dir;
  std::string content;
  for (int i = 0; i < 3000; ++i) content.push_back(static_cast<char>(i % 251));
  {
    FILE* file = fopen((dir / "in").c_str(), "wb");
    fwrite(content.data(), 1, content.size(), file);
    fclose(file);
  }
  aStreamRef in = nullptr, out = nullptr;
  ASSERT_EQ(aStream_CreateFileInput((dir / "in").c_str(), &in), aErrNone);
  ASSERT_EQ(aStream_CreateFileOutput((dir / "out").c_str(), &out), aErrNone);
  EXPECT_EQ(aStream_Flush(in, out), aErrNone);
  aStream_Destroy(&in);
  aStream_Destroy(&out);
  EXPECT_EQ(wftest::readFile(dir / "out"), content);
  aStreamRef missing = reinterpret_cast<aStreamRef>(1);
  EXPECT_EQ(aStream_CreateFileInput((dir / "absent").c_str(), &missing), aErrResource);
  EXPECT_EQ(missing, nullptr);
}

// A pseudo-terminal stands in for the serial line; the test holds the far end.
class SerialStream : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    path = name;
  }
  void TearDown() override {
    if (master >= 0) close(master);
    close(slave);
  }
  int master = -1, slave = -1;
  std::string path;
};

TEST_F(SerialStream, CarriesBytesBothWays) {
  aStreamRef stream = nullptr;
  ASSERT_EQ(aStream_CreateSerial(path.c_str(), 6, 0, 0, 0, &stream), aErrNone);
  uint8_t byte = 0;
  EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
  const auto start = Clock::now();
  EXPECT_EQ(aStream_AwaitInput(stream, 100), aErrNotReady);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));

  ASSERT_EQ(write(master, "\x06\x00\x06", 3), 3);
  ASSERT_EQ(aStream_AwaitInput(stream, 20000), aErrNone);
  uint8_t got[3] = {};
  // The bytes may trickle in; poll until the whole read succeeds.
  aErr err = aErrNotReady;
  for (int i = 0; i < 2000 && err == aErrNotReady; ++i) {
    err = aStream_Read(stream, got, 3);
    if (err == aErrNotReady) aStream_AwaitInput(stream, 10);
  }
  ASSERT_EQ(err, aErrNone);
  EXPECT_EQ(got[0], 0x06);
  EXPECT_EQ(got[2], 0x06);

  const uint8_t out[] = {0xAD, 0x00, 0x0A, 0x0D};  // raw: no newline translation
  ASSERT_EQ(aStream_Write(stream, out, sizeof out), aErrNone);
  uint8_t echo[4] = {};
  size_t have = 0;
  while (have < sizeof echo) {
    pollfd entry{master, POLLIN, 0};
    ASSERT_GT(poll(&entry, 1, 20000), 0);
    const ssize_t count = read(master, echo + have, sizeof echo - have);
    ASSERT_GT(count, 0);
    have += static_cast<size_t>(count);
  }
  EXPECT_EQ(memcmp(echo, out, sizeof out), 0);
  EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
}

TEST_F(SerialStream, RefusesBadArguments) {
  aStreamRef stream = nullptr;
  EXPECT_EQ(aStream_CreateSerial(path.c_str(), 6, 0, 2, 0, &stream), aErrParam);
  EXPECT_EQ(aStream_CreateSerial("/dev/wrenfield-no-such-port", 6, 0, 0, 0, &stream), aErrNotFound);
  EXPECT_EQ(aStream_CreateSerial(nullptr, 6, 0, 0, 0, &stream), aErrParam);
  EXPECT_EQ(stream, nullptr);
}

// A loopback listener the socket stream connects to.
class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, 4);
    socklen_t size = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { stop(); }
  int accept() {
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, 20000) <= 0) return -1;
    return ::accept(fd_, nullptr, nullptr);
  }
  void stop() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// Reads one byte, sleeping on the socket in between.
aErr readByte(aStreamRef stream, uint8_t* byte) {
  aErr err = aErrNotReady;
  for (int i = 0; i < 200 && err == aErrNotReady; ++i) {
    aStream_AwaitInput(stream, 100);
    err = aStream_Read(stream, byte, 1);
  }
  return err;
}

TEST(SocketStream, ClosedPortIsResource) {
  uint16_t port = 0;
  {
    Listener listener;
    port = listener.port();
  }
  aStreamRef stream = reinterpret_cast<aStreamRef>(1);
  EXPECT_EQ(aStream_CreateSocket(kLoopback, port, &stream), aErrResource);
  EXPECT_EQ(stream, nullptr);
}

TEST(SocketStream, PeerCloseReconnectsOnceThenFails) {
  Listener listener;
  aStreamRef stream = nullptr;
  ASSERT_EQ(aStream_CreateSocket(kLoopback, listener.port(), &stream), aErrNone);
  int peer = listener.accept();
  ASSERT_GE(peer, 0);
  ASSERT_EQ(write(peer, "A", 1), 1);
  uint8_t byte = 0;
  ASSERT_EQ(readByte(stream, &byte), aErrNone);
  EXPECT_EQ(byte, 'A');

  // An orderly close wakes the waiter at once and is answered by one reconnection.
  close(peer);
  const auto start = Clock::now();
  EXPECT_EQ(aStream_AwaitInput(stream, 20000), aErrNone);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
  peer = listener.accept();
  ASSERT_GE(peer, 0);
  ASSERT_EQ(aStream_Write(stream, reinterpret_cast<const uint8_t*>("hi"), 2), aErrNone);
  char got[2] = {};
  ASSERT_EQ(recv(peer, got, 2, MSG_WAITALL), 2);
  EXPECT_EQ(std::string(got, 2), "hi");

  // Gone for good: the one reconnection fails and the loss is reported.
  listener.stop();
  close(peer);
  EXPECT_EQ(readByte(stream, &byte), aErrConnection);
  EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrConnection);
  EXPECT_EQ(aStream_Write(stream, reinterpret_cast<const uint8_t*>("x"), 1), aErrConnection);
  EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
}

TEST(SocketStream, WriteToAStalledPeerGivesUp) {
  Listener listener;
  aStreamRef stream = nullptr;
  ASSERT_EQ(aStream_CreateSocket(kLoopback, listener.port(), &stream), aErrNone);
  const int peer = listener.accept();  // never reads
  ASSERT_GE(peer, 0);
  std::vector<uint8_t> block(64 << 20, 0x5A);
  const auto start = Clock::now();
  EXPECT_EQ(aStream_Write(stream, block.data(), block.size()), aErrWrite);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
  close(peer);
  aStream_Destroy(&stream);
}

}  // namespace
