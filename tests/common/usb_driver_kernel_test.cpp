// The kernel-driver path, with a pseudo-terminal in place of the device node.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/wfusb_driver.h"
#include "support/process.h"

namespace {

class KernelNodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    ASSERT_EQ(symlink(ttyname(slave), (dir / "wrenfield.40F5849A").c_str()), 0);
    setenv("WRENFIELD_USB_NODE_DIR", dir.path().c_str(), 1);
  }
  void TearDown() override {
    if (driver != nullptr) wfusb_destroy(&driver);
    unsetenv("WRENFIELD_USB_NODE_DIR");
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }

  std::vector<uint8_t> readMaster(size_t count) {
    std::vector<uint8_t> got;
    while (got.size() < count) {
      pollfd ready{master, POLLIN, 0};
      if (poll(&ready, 1, 5000) <= 0) break;
      uint8_t buffer[64];
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  wftest::TempDir dir;
  int master = -1;
  int slave = -1;
  wfusb_driver* driver = nullptr;
};

TEST_F(KernelNodeTest, TheNodeMarksTheModuleAsServedByTheKernelDriver) {
  EXPECT_TRUE(wfusb_is_kernel_driver_installed(0x40F5849A));
  EXPECT_FALSE(wfusb_is_kernel_driver_installed(0x40F5849B));
  ASSERT_EQ(mkdir((dir / "wrenfield.40F5849C").c_str(), 0700), 0);
  EXPECT_FALSE(wfusb_is_kernel_driver_installed(0x40F5849C));  // a directory is not a node
}

TEST_F(KernelNodeTest, CarriesThePacketByteStreamBothWays) {
  driver = wfusb_create_usb(WFUSB_MODE_KERNEL);
  ASSERT_EQ(wfusb_open_wrenfield_device(driver, "40F5849A"), aErrNone);
  EXPECT_EQ(wfusb_get_state(driver), WFUSB_STATE_OPEN);

  const uint8_t handshake[] = {0xAD, 0x00, 0xAD, 0x00};
  ASSERT_EQ(wfusb_write_to_device(driver, handshake, sizeof handshake), aErrNone);
  EXPECT_EQ(readMaster(4), std::vector<uint8_t>(handshake, handshake + 4));

  const uint8_t answer[] = {0x06, 0x00, 0x06, 0x00};
  ASSERT_EQ(write(master, answer, sizeof answer), 4);
  std::vector<uint8_t> got;
  uint8_t byte = 0;
  for (int tries = 0; got.size() < 4 && tries < 100; ++tries) {
    if (wfusb_get_from_device(driver, &byte) == aErrNone) got.push_back(byte);
  }
  EXPECT_EQ(got, std::vector<uint8_t>(answer, answer + 4));

  EXPECT_EQ(wfusb_close_wrenfield_device(driver), aErrNone);
  EXPECT_EQ(wfusb_get_state(driver), WFUSB_STATE_CLOSED);
  EXPECT_EQ(wfusb_close_wrenfield_device(driver), aErrNone);  // nothing left to close
}

TEST_F(KernelNodeTest, ASilentModuleIsNotReadyWithoutBlocking) {
  driver = wfusb_create_usb(WFUSB_MODE_KERNEL);
  ASSERT_EQ(wfusb_open_wrenfield_device(driver, "40F5849A"), aErrNone);
  uint8_t byte = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrNotReady);
  // Bounded: the reader gets control back to check whether it should stop.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(KernelNodeTest, AModuleThatWentAwayIsAnIOError) {
  driver = wfusb_create_usb(WFUSB_MODE_KERNEL);
  ASSERT_EQ(wfusb_open_wrenfield_device(driver, "40F5849A"), aErrNone);
  close(master);
  master = -1;
  uint8_t byte = 0;
  EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrIO);
  const uint8_t data[] = {0x06, 0x00};
  EXPECT_EQ(wfusb_write_to_device(driver, data, sizeof data), aErrIO);
}

TEST_F(KernelNodeTest, OpenFailures) {
  driver = wfusb_create_usb(WFUSB_MODE_KERNEL);
  EXPECT_EQ(wfusb_open_wrenfield_device(driver, "40F5849B"), aErrIO);  // no node
  // Only a serial number can become part of the node's path.
  for (const char* bad : {"../../etc/passwd", "40f5849a", "40F5849", "40F5849A0", ""}) {
    EXPECT_EQ(wfusb_open_wrenfield_device(driver, bad), aErrParam) << bad;
  }
  EXPECT_EQ(wfusb_open_wrenfield_device(driver, nullptr), aErrParam);
  uint8_t byte = 0;
  EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrMode);  // never opened
}

}  // namespace
