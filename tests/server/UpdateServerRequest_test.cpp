#include "server/UpdateServerRequest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "app/Log.h"
#include "server/HTTPRequest.h"
#include "support/fake_http_server.h"

namespace {

using Builds = std::map<std::string, std::string>;

// Captures the ServerComm diagnostic lines of one test.
class LogCapture {
 public:
  LogCapture() : file(tmpfile()) {
    Log::SetOutput(file);
    Log::ActivatePackage(DEBUG_ServerComm);
  }
  ~LogCapture() {
    Log::DeactivatePackage(DEBUG_ServerComm);
    Log::SetOutput(nullptr);
    fclose(file);
  }
  std::string text() const {
    std::string all;
    rewind(file);
    char buffer[4096];
    while (size_t got = fread(buffer, 1, sizeof buffer, file)) all.append(buffer, got);
    return all;
  }

 private:
  FILE* file;
};

class UpdateServerRequestTest : public ::testing::Test {
 protected:
  wftest::FakeHttpServer server;
  std::string url = server.url();
};

TEST_F(UpdateServerRequestTest, PingSendsItsParametersAndAcceptsAnOkLine) {
  for (const char* body : {"ok", "ok\n", "okay", "\n\nok\r\nmore\n"}) {
    server.answer(200, body);
    EXPECT_TRUE(UpdateServerRequest::ping(url.c_str())) << body;
  }
  for (const char* body : {"", "\n", "o", "nok\n", "OK\n", "error\nok\n"}) {
    server.answer(200, body);
    EXPECT_FALSE(UpdateServerRequest::ping(url.c_str())) << body;
  }
  EXPECT_EQ(server.targets().front(), "/cgi/u?op=hi&rv=2&");
}

TEST_F(UpdateServerRequestTest, EveryQuestionSendsItsParametersInNameOrder) {
  server.answer(200, "ok\n");
  const unsigned fingerprint[4] = {1, 2, 3, 4};
  std::string text;
  Builds builds;
  unsigned serial = 0, build = 0;
  UpdateServerRequest::QueryBuild(0x40F5849A, text, text, url.c_str());
  UpdateServerRequest::GetBuild(0x40F5849A, "X", "1234", text, url.c_str(), false);
  UpdateServerRequest::GetBuild(0xAB, "fw%20id", "7", text, url.c_str(), true);
  UpdateServerRequest::GetBuildList(0x12AB, builds, url.c_str());
  UpdateServerRequest::GetRecoveryInfo(fingerprint, &serial, &build, url.c_str());
  UpdateServerRequest::GetDeviceJWT(0xDEADBEEF, text, url.c_str());
  const std::vector<std::string> expected = {
      "/cgi/u?op=qu&sn=40F5849A&",
      "/cgi/u?bld=1234&fw=X&no_cal=false&op=bird&sn=40F5849A&",
      "/cgi/u?bld=7&fw=fw%20id&no_cal=true&op=bird&sn=000000AB&",
      "/cgi/u?op=builds&sn=000012AB&",
      "/cgi/u?brief=true&fp=00000001%2000000002%2000000003%2000000004&op=fix&",
      "/cgi/u?json=false&op=ent_jwt&sn=DEADBEEF&",
  };
  EXPECT_EQ(server.targets(), expected);
}

TEST(HTTPRequestURL, AddsNothingWithoutParameters) {
  EXPECT_EQ(HTTPRequest::BuildURL("http://h/cgi/u", {}), "http://h/cgi/u");
  EXPECT_EQ(HTTPRequest::BuildURL("http://h/cgi/u", {{"b", "x y"}, {"B", ""}, {"a", "1"}}),
            "http://h/cgi/u?B=&a=1&b=x y&");
}

TEST_F(UpdateServerRequestTest, AStatusOtherThan200FailsEveryQuestionAndIsLogged) {
  server.answer(404, "ok\n1234\nX\n");
  LogCapture log;
  std::string build = "keep", firmware = "keep", bird = "keep", token = "keep";
  Builds builds{{"1", "1.0.0"}};
  unsigned serial = 7, recovered = 7;
  const unsigned fingerprint[4] = {1, 2, 3, 4};
  EXPECT_FALSE(UpdateServerRequest::ping(url.c_str()));
  EXPECT_FALSE(UpdateServerRequest::QueryBuild(1, build, firmware, url.c_str()));
  EXPECT_FALSE(UpdateServerRequest::GetBuild(1, "X", "1", bird, url.c_str(), false));
  EXPECT_FALSE(UpdateServerRequest::GetBuildList(1, builds, url.c_str()));
  EXPECT_FALSE(UpdateServerRequest::GetRecoveryInfo(fingerprint, &serial, &recovered, url.c_str()));
  EXPECT_FALSE(UpdateServerRequest::GetDeviceJWT(1, token, url.c_str()));
  EXPECT_EQ(build + firmware + bird + token, "keepkeepkeepkeep");
  EXPECT_TRUE(builds.empty()) << "the list is cleared before asking";
  EXPECT_EQ(serial + recovered, 14u);
  const std::string lines = log.text();
  EXPECT_NE(lines.find("PING ==> [404] [ok\n1234\nX\n]\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("GetBuildList ==> [404] [ok\n1234\nX\n]\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("GetDeviceJWT ==> [404] ["), std::string::npos) << lines;
}

TEST_F(UpdateServerRequestTest, AnAnswerWithoutOkLineIsLoggedWithTheURL) {
  server.answer(200, "");
  LogCapture log;
  std::string build;
  EXPECT_FALSE(UpdateServerRequest::QueryBuild(0x12AB, build, build, url.c_str()));
  EXPECT_NE(log.text().find("ServerCommClass: QueryBuild failed [" + url + "?op=qu&sn=000012AB&]\n"),
            std::string::npos)
      << log.text();
}

TEST(UpdateServerRequestDown, AServerThatIsNotThereFailsWithLibcurlsText) {
  std::string url;
  {
    wftest::FakeHttpServer gone;  // its port is free again once it is destroyed
    url = gone.url();
  }
  LogCapture log;
  EXPECT_FALSE(UpdateServerRequest::ping(url.c_str()));
  EXPECT_NE(log.text().find("ping ==> [Couldn't connect to server]"), std::string::npos) << log.text();
}

TEST_F(UpdateServerRequestTest, QueryBuildReadsBuildAndFirmwareIdentifier) {
  std::string build = "old", firmware = "old";
  server.answer(200, "ok\n1240\nHubFour\r\n");
  ASSERT_TRUE(UpdateServerRequest::QueryBuild(1, build, firmware, url.c_str()));
  EXPECT_EQ(build, "1240");
  EXPECT_EQ(firmware, "HubFour");
  server.answer(200, "ok\n1250\n");
  ASSERT_TRUE(UpdateServerRequest::QueryBuild(1, build, firmware, url.c_str()));
  EXPECT_EQ(build, "1250");
  EXPECT_EQ(firmware, "HubFour") << "a missing line leaves the value as it was";
}

TEST_F(UpdateServerRequestTest, GetBuildTakesTheSecondLine) {
  std::string bird = "old";
  server.answer(200, "ok\n\nQUJD\nignored\n");
  ASSERT_TRUE(UpdateServerRequest::GetBuild(1, "X", "1", bird, url.c_str(), false));
  EXPECT_EQ(bird, "QUJD");
  server.answer(200, "ok\n");
  ASSERT_TRUE(UpdateServerRequest::GetBuild(1, "X", "1", bird, url.c_str(), false));
  EXPECT_EQ(bird, "");
}

TEST_F(UpdateServerRequestTest, GetBuildListKeepsTheFirstVersionOfABuild) {
  server.answer(200, "ok\n1234;2.11.2\n1234;2.11.3\nx\n1240\n1250;2.12.0\r\n;;;;\n1260;2.12.1;extra\n");
  Builds builds;
  ASSERT_TRUE(UpdateServerRequest::GetBuildList(1, builds, url.c_str()));
  const Builds expected{{"1234", "2.11.2"}, {"1240", ""}, {"1250", "2.12.0"}, {"1260", "2.12.1"}};
  EXPECT_EQ(builds, expected);
}

TEST_F(UpdateServerRequestTest, GetRecoveryInfoReadsSerialInHexAndBuildWithAutomaticBase) {
  const unsigned fingerprint[4] = {1, 2, 3, 4};
  const struct {
    const char* body;
    unsigned serial, build;
  } cases[] = {
      {"ok\n12AB\n0x20\n", 0x12AB, 32},
      {"ok\n12AB\n010\n", 0x12AB, 8},
      {"ok\n40f5849a\n1234\n", 0x40F5849A, 1234},
      {"ok\n", 7, 7},  // missing lines leave the values alone
  };
  for (const auto& c : cases) {
    unsigned serial = 7, build = 7;
    server.answer(200, c.body);
    ASSERT_TRUE(UpdateServerRequest::GetRecoveryInfo(fingerprint, &serial, &build, url.c_str())) << c.body;
    EXPECT_EQ(serial, c.serial) << c.body;
    EXPECT_EQ(build, c.build) << c.body;
  }
}

TEST_F(UpdateServerRequestTest, GetDeviceJWTNeedsThreePartsOfTwoCharactersOrMore) {
  const struct {
    const char* body;
    bool ok;
    const char* token;
  } cases[] = {
      {"ok\naa.bb.cc\r\n", true, "aa.bb.cc"},
      {"ok\neyJhbGc.eyJzdWI.c2ln.more\n", true, "eyJhbGc.eyJzdWI.c2ln.more"},
      {"ok\naa.b.cc\n", false, "keep"},
      {"ok\naa.bb\n", false, "keep"},
      {"ok\naa.bb.c\n", false, "keep"},
      {"ok\nab\n", false, "keep"},
      {"ok\n", false, "keep"},
  };
  for (const auto& c : cases) {
    std::string token = "keep";
    server.answer(200, c.body);
    EXPECT_EQ(UpdateServerRequest::GetDeviceJWT(1, token, url.c_str()), c.ok) << c.body;
    EXPECT_EQ(token, c.token) << c.body;
  }
}

TEST_F(UpdateServerRequestTest, AnOverLongAnswerIsRefusedNotHeld) {
  std::string huge = "ok\n";
  huge.resize(HTTPRequest::kMaxResponseBytes + 1, 'A');
  server.answer(200, std::move(huge));
  // Announced, it is refused before it arrives; unannounced, once it passes the limit.
  for (const bool announced : {true, false}) {
    server.announce_length(announced);
    std::string bird;
    EXPECT_FALSE(UpdateServerRequest::GetBuild(1, "X", "1", bird, url.c_str(), false)) << announced;
    EXPECT_TRUE(bird.empty());
  }
  server.answer(200, "ok\nQUJD\n");
  std::string bird;
  EXPECT_TRUE(UpdateServerRequest::GetBuild(1, "X", "1", bird, url.c_str(), false));
  EXPECT_EQ(bird, "QUJD") << "an unannounced answer within the limit is whole";
}

TEST(SortBuildsByVersion, OrdersNewestFirstAndInvalidVersionsLast) {
  using Sorted = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(UpdateServerRequest::SortBuildsByVersion({{"1", "2.9.0"}, {"2", "2.10.0"}, {"3", "1.99.99"}}),
            (Sorted{{"2", "2.10.0"}, {"1", "2.9.0"}, {"3", "1.99.99"}}));
  EXPECT_EQ(UpdateServerRequest::SortBuildsByVersion(
                {{"1", ""}, {"2", "1.0.0"}, {"3", "x.1.2"}, {"4", "1.2"}, {"5", "3.0.0"}, {"6", "1.2.3.4"}}),
            (Sorted{{"5", "3.0.0"}, {"2", "1.0.0"}, {"1", ""}, {"3", "x.1.2"}, {"4", "1.2"}, {"6", "1.2.3.4"}}));
  // Parts are kept modulo 256, as a module stores them: 2.11.256 is 2.11.0.
  EXPECT_EQ(UpdateServerRequest::SortBuildsByVersion({{"1", "2.11.0"}, {"2", "2.11.256"}, {"3", "2.11.1"}}),
            (Sorted{{"3", "2.11.1"}, {"1", "2.11.0"}, {"2", "2.11.256"}}));
  EXPECT_TRUE(UpdateServerRequest::SortBuildsByVersion({}).empty());
}

TEST(SortBuildsByVersion, StaysWellDefinedWithManyInvalidVersions) {
  std::map<std::string, std::string> builds;
  for (int i = 0; i < 200; ++i)
    builds[std::to_string(1000 + i)] = i % 3 == 0 ? "bad" : "1." + std::to_string(i % 17) + ".0";
  const auto sorted = UpdateServerRequest::SortBuildsByVersion(builds);
  ASSERT_EQ(sorted.size(), builds.size());
  bool invalidSeen = false;
  int previousMinor = 1000;
  for (const auto& [build, version] : sorted) {
    if (version == "bad") {
      invalidSeen = true;
      continue;
    }
    EXPECT_FALSE(invalidSeen) << "a valid version after an invalid one: " << build;
    const int minor = std::stoi(version.substr(2));
    EXPECT_LE(minor, previousMinor);
    previousMinor = minor;
  }
}

TEST(SplitWrenfieldVersion, GivesThreePartsOrNone) {
  using Parts = std::vector<std::string>;
  EXPECT_EQ(UpdateServerRequest::SplitWrenfieldVersion("2.11.2"), (Parts{"2", "11", "2"}));
  EXPECT_EQ(UpdateServerRequest::SplitWrenfieldVersion("a..b"), (Parts{"a", "", "b"}));
  for (const char* text : {"", "2", "2.11", "2.11.2.1", "..."})
    EXPECT_TRUE(UpdateServerRequest::SplitWrenfieldVersion(text).empty()) << text;
}

}  // namespace
