// The object layer against the module simulator: a router with a module on
// its I2C bus, found by legacy TCP/IP discovery, asked through the system
// entity and the module information, and reached through the router.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../common/wfsim_process.h"
#include "cpp/I2CClass.h"
#include "cpp/Module.h"
#include "cpp/SystemClass.h"
#include "support/process.h"

namespace {

using Quorvant::Wrenfield::aShareConfig;
using Quorvant::Wrenfield::I2CClass;
using Quorvant::Wrenfield::Module;
using Quorvant::Wrenfield::SystemClass;

constexpr uint32_t kRouterSerial = 0x40F5849A;
constexpr uint32_t kBehindSerial = 0x40F5849B;

const char* const kConfig = R"({"modules": [{
  "serial": "40F5849A", "model": "RouterI2C", "address": 6, "version": "2.11.2", "build": 1234,
  "system": {"45": 2147483648, "27": -5, "32": "Bench router"},
  "transports": [{"type": "tcp", "address": "127.0.0.1", "discovery": {"interface": "198.51.100.1"}}],
  "submodules": [{"serial": "40F5849B", "model": "SwitchDual", "address": 8}]
}]})";

class ObjectsAgainstWfsim : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<wftest::Wfsim>(kConfig, dir);
    aShareConfig direct;
    direct.enabled = 0;
    direct.fallback = 0;
    ASSERT_EQ(router.setConfig(direct), aErrNone);
  }
  wftest::TempDir dir;
  std::unique_ptr<wftest::Wfsim> sim;
  Module router{0x02};
};

TEST_F(ObjectsAgainstWfsim, FindsTheRouterAndReadsItsIdentity) {
  ASSERT_EQ(router.connect(TCPIP, kRouterSerial), aErrNone);
  EXPECT_EQ(router.getModuleAddress(), 6) << "learned from the link";

  SystemClass system;
  system.init(&router, 0);
  uint32_t serial = 0, version = 0, features = 0, build = 0;
  uint8_t model = 0, address = 0;
  int32_t temperature = 0;
  EXPECT_EQ(system.getSerialNumber(&serial), aErrNone);
  EXPECT_EQ(serial, kRouterSerial);
  EXPECT_EQ(system.getModel(&model), aErrNone);
  EXPECT_EQ(model, 12);
  EXPECT_EQ(system.getModule(&address), aErrNone);
  EXPECT_EQ(address, 6);
  EXPECT_EQ(system.getVersion(&version), aErrNone);
  EXPECT_NE(version, 0u);
  EXPECT_EQ(system.getProtocolFeatures(&features), aErrNone);
  EXPECT_EQ(features, 0x80000000u);
  EXPECT_EQ(system.getTemperature(&temperature), aErrNone);
  EXPECT_EQ(temperature, -5);
  char name[64] = {};
  size_t length = 0;
  EXPECT_EQ(system.getName(reinterpret_cast<uint8_t*>(name), sizeof name - 1, &length), aErrNone);
  EXPECT_EQ(std::string(name, length), "Bench router");
  const std::string renamed = "A router renamed with more than twenty-four bytes";
  EXPECT_EQ(system.setName(reinterpret_cast<const uint8_t*>(renamed.data()), renamed.size()), aErrNone);
  EXPECT_EQ(system.getName(reinterpret_cast<uint8_t*>(name), sizeof name - 1, &length), aErrNone);
  EXPECT_EQ(std::string(name, length), renamed);
  EXPECT_EQ(system.getUptime(nullptr), aErrParam);

  EXPECT_EQ(router.getBuild(&build), aErrNone);
  EXPECT_EQ(build, 1234u);
  EXPECT_EQ(router.hasUEI(0x03, 9, 0, UEI_GET), aErrNone);
  EXPECT_EQ(router.hasUEI(0x03, 44, 0, UEI_GET), aErrInvalidOption);
  uint8_t count = 0;
  EXPECT_EQ(router.classQuantity(0x03, &count), aErrNone);
  EXPECT_EQ(count, 1);
  const uint8_t echo[] = {1, 2, 3, 4};
  EXPECT_EQ(router.debug(echo, sizeof echo), aErrNone);

  // A set the module refuses comes back as its error.
  EXPECT_EQ(system.setUEI32(7, 5), aErrPermission);
}

TEST_F(ObjectsAgainstWfsim, DiscoveryByModelTakesTheFirstOfThatModel) {
  Module wrongModel(0x02, true, 17);
  aShareConfig direct;
  direct.enabled = 0;
  direct.fallback = 0;
  ASSERT_EQ(wrongModel.setConfig(direct), aErrNone);
  EXPECT_EQ(wrongModel.discoverAndConnect(TCPIP, 0), aErrNotFound);
  Module routerModel(0x02, true, 12);
  ASSERT_EQ(routerModel.setConfig(direct), aErrNone);
  ASSERT_EQ(routerModel.discoverAndConnect(TCPIP, 0), aErrNone);
  linkSpec spec{};
  ASSERT_EQ(routerModel.getLinkSpecifier(&spec), aErrNone);
  EXPECT_EQ(spec.serialNumber, kRouterSerial);
}

TEST_F(ObjectsAgainstWfsim, ReachesTheModuleBehindTheRouter) {
  ASSERT_EQ(router.connect(TCPIP, kRouterSerial), aErrNone);
  SystemClass routerSystem;
  routerSystem.init(&router, 0);
  ASSERT_EQ(routerSystem.routeToMe(1), aErrNone);

  I2CClass bus;
  bus.init(&router, 0);
  const uint8_t probe[] = {0x00};
  EXPECT_EQ(bus.write(0x08, 1, probe), aErrNone) << "a module sits at 0x08";
  EXPECT_EQ(bus.write(0x0A, 1, probe), aErrIO) << "nobody acknowledges at 0x0A";
  EXPECT_EQ(bus.setPullup(true), aErrNone);
  ASSERT_EQ(routerSystem.routeToMe(0), aErrNone);
  EXPECT_NE(sim->command("router").find("routetome=01,00 probed=08,0A pullups=01"), std::string::npos)
      << sim->command("router");

  Module behind(0x08);
  ASSERT_EQ(behind.connectThroughLinkModule(&router), aErrNone);
  SystemClass system;
  system.init(&behind, 0);
  uint32_t serial = 0;
  EXPECT_EQ(system.getSerialNumber(&serial), aErrNone);
  EXPECT_EQ(serial, kBehindSerial);
  uint8_t model = 0;
  EXPECT_EQ(system.getModel(&model), aErrNone);
  EXPECT_EQ(model, 7);
  ASSERT_EQ(behind.disconnect(), aErrNone);
  EXPECT_TRUE(router.isConnected());
  EXPECT_EQ(routerSystem.getSerialNumber(&serial), aErrNone);
  EXPECT_EQ(serial, kRouterSerial);
}

}  // namespace
