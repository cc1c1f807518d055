// The download flow against a canned server: the worker thread's hand-over,
// the spinner, and the failures that never reach the store.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/fake_http_server.h"
#include "support/process.h"
#include "updater/Updater.h"
#include "updater/UpdaterDisplayInterface.h"

namespace {

// Also records the spinner calls, in order, which the download turns.
class SpinnerDisplay final : public UpdaterDisplayInterface {
 public:
  std::vector<std::string> infos, errors, spinner;
  void display_progress(bool) override {}
  void update_progress(double, const char*) override {}
  void update_spinner(bool active, const char* label) override {
    spinner.push_back(std::string(active ? "on " : "off ") + (label != nullptr ? label : ""));
  }
  void info_message(const char* text) override { infos.emplace_back(text); }
  void error_message(const char* text) override { errors.emplace_back(text); }
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.route("op=qu", 200, "ok\n77\nFW-1\n");
    server.route("op=builds", 200, "ok\n70;1.2.0\n77;1.2.3\n");
    server.route("op=bird", 200, "ok\nQUJDREVG\n");  // "ABCDEF"
  }
  std::string device(const std::string& name = "") const { return store / ("updater/0000ABCD/" + name); }

  wftest::FakeHttpServer server;
  wftest::TempDir store;
  SpinnerDisplay display;
  Updater updater{server.url().c_str(), (store / "updater").c_str(), display};
};

TEST_F(DownloadTest, StoresTheLatestBuildFetchedByTheWorker) {
  EXPECT_EQ(updater.Download_Firmware(0xABCD, "", false, false), 77u);
  EXPECT_EQ(slurp(device("77.bird")), "ABCDEF");
  const std::string settings = slurp(device(".settings"));
  EXPECT_NE(settings.find("LATEST_DOWNLOAD=77.bird\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("LAST_DOWNLOAD_DATE="), std::string::npos) << settings;
  EXPECT_TRUE(display.errors.empty());
  EXPECT_EQ(display.infos, (std::vector<std::string>{"Retrieving build 77", "Validating build 77 with server",
                                                     "Build 77 is valid"}));
  ASSERT_GE(display.spinner.size(), 2u);
  EXPECT_EQ(display.spinner.front(), "on Downloading");
  EXPECT_EQ(display.spinner.back(), "off Downloading");
  EXPECT_EQ(server.targets().back(), "/cgi/u?bld=77&fw=FW-1&no_cal=false&op=bird&sn=0000ABCD&");
}

TEST_F(DownloadTest, RefusesBeforeAskingTheServer) {
  const struct {
    unsigned serial;
    const char* build;
    const char* error;
  } cases[] = {
      {0xABCD, "12x", "Build number '12x' must be an number"},
      {0xABCD, "99999999999", "Build number '99999999999' must be an number"},
      {0, "", "Serial Number must be non-zero"},
  };
  for (const auto& c : cases) {
    display.errors.clear();
    EXPECT_EQ(updater.Download_Firmware(c.serial, c.build, false, false), 0u) << c.build;
    EXPECT_EQ(display.errors, std::vector<std::string>{c.error});
  }
  EXPECT_TRUE(server.targets().empty());
}

TEST_F(DownloadTest, AStoreThatCannotBeMadeEndsTheDownload) {
  std::ofstream(store / "updater") << "a file where the store should be";
  EXPECT_EQ(updater.Download_Firmware(0xABCD, "", false, false), 0u);
  ASSERT_EQ(display.errors.size(), 1u);
  EXPECT_EQ(display.errors[0], "Failed to Create UpdaterStore in: Download_Firmware - Exception: UpdaterStore: " +
                                   (store / "updater") + " exists and is a file");
}

TEST_F(DownloadTest, FailedOrEmptyTransfersRecordNothing) {
  const struct {
    int status;
    const char* body;
    std::vector<std::string> errors;
  } cases[] = {
      {500, "ok\nQUJD\n", {"Download failed", "Failed to retrieve a valid BIRD file"}},
      {200, "ok\n", {"Failed to retrieve a valid BIRD file"}},
      {200, "ok\nQUJD\r\n", {"Failed to decode BIRD file"}},
  };
  for (const auto& c : cases) {
    wftest::FakeHttpServer broken;
    broken.route("op=qu", 200, "ok\n77\nFW-1\n");
    broken.route("op=bird", c.status, c.body);
    SpinnerDisplay quiet;
    Updater other(broken.url().c_str(), (store / "updater").c_str(), quiet);
    EXPECT_EQ(other.Download_Firmware(0xABCD, "77", true, false), 0u) << c.body;
    EXPECT_EQ(quiet.errors, c.errors) << c.body;
    EXPECT_FALSE(std::filesystem::exists(device("77.bird")));
    EXPECT_EQ(slurp(device(".settings")).find("LATEST_DOWNLOAD"), std::string::npos);
  }
}

TEST_F(DownloadTest, AFileThatCannotBeWrittenIsNotRecorded) {
  std::filesystem::create_directories(device("77.bird"));  // nothing can replace a directory
  EXPECT_EQ(updater.Download_Firmware(0xABCD, "77", false, false), 0u);
  ASSERT_EQ(display.errors.size(), 1u);
  EXPECT_TRUE(display.errors[0].starts_with("Failed to write file with ")) << display.errors[0];
  EXPECT_EQ(slurp(device(".settings")).find("LATEST_DOWNLOAD"), std::string::npos);
}

TEST_F(DownloadTest, ABuildMissingFromTheListIsRefusedUnlessOverridden) {
  EXPECT_EQ(updater.Download_Firmware(0xABCD, "75", false, false), 0u);
  EXPECT_EQ(display.errors, std::vector<std::string>{"No valid build 75"});
  EXPECT_FALSE(std::filesystem::exists(device("75.bird")));
  EXPECT_EQ(updater.Download_Firmware(0xABCD, "75", true, false), 75u);
  EXPECT_EQ(display.infos.back(), "Override specified, skipping validation of build 75");
  EXPECT_EQ(slurp(device("75.bird")), "ABCDEF");
}

}  // namespace
