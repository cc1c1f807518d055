// The updater binary's front end: what each command line prints, where, and its exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/aDirectory.h"
#include "support/process.h"

namespace {

const std::string kVersion = "Updater (Version: 2.11.2 Apr 29 2025)\n";
const std::string kNotice = "Copyright (c) 2025 Quorvant Inc. All rights reserved.\n";

std::string golden(const std::string& name) {
  return wftest::readFile(std::string(WF_SOURCE_DIR) + "/tests/app/golden/" + name);
}

class UpdaterCli : public ::testing::Test {
 protected:
  wftest::RunResult updater(const std::vector<std::string>& args) {
    wftest::RunOptions options;
    options.env["HOME"] = home.path();
    return wftest::run("updater", args, options);
  }
  // Every run names its store with -i, except the one that checks the default.
  wftest::TempDir home;
};

}  // namespace

TEST_F(UpdaterCli, UsageTexts) {
  struct Case {
    std::vector<std::string> args;
    std::string usage;
  };
  const Case cases[] = {
      {{}, "usage_short.txt"},
      {{"-h"}, "usage_full.txt"},
      {{"--help"}, "usage_full.txt"},
      {{"-X", "1", "-h"}, "usage_extended.txt"},
      {{"-X", "0", "-H"}, "usage_extended.txt"},
      {{"-h", "-X", "1"}, "usage_full.txt"},
      // Invalid options are skipped; with no command left the short usage shows.
      {{"-d"}, "usage_short.txt"},
      {{"-Q", "-DU", "-d40F5849A"}, "usage_short.txt"},
      {{"-m"}, "usage_short.txt"},
  };
  for (const Case& c : cases) {
    const auto result = updater(c.args);
    SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args[0]);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kVersion + kNotice);
    EXPECT_EQ(result.err, golden(c.usage));
  }
}

TEST_F(UpdaterCli, CommandLineErrorsExitWithOne) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"-G", "-d", "40F5849G"}, "Invalid serial number obtained from argument [40F5849G]\n"},
      {{"-D", "-r", "0xZZ"}, "Invalid router serial number obtained from argument [ZZ]\n"},
      {{"-D", "-t", "usb"}, "Invalid transport type:[usb]\nMust be one of the following: USB, TCPIP, RECOVER\n"},
      {{"-Y"}, "Unhandled command: [-Y]\n"},
  };
  for (const Case& c : cases) {
    const auto result = updater(c.args);
    SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, kVersion + kNotice);
    EXPECT_EQ(result.err, c.error + golden("usage_short.txt"));
  }
}

TEST_F(UpdaterCli, InertCommandsCreateTheStorageDirectory) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-I"}, {"-C"}, {"-Z", "x"}, {"-I", "-d", "1"}}) {
    wftest::TempDir store;
    std::vector<std::string> line = args;
    line.insert(line.end(), {"-i", store.path()});
    const auto result = updater(line);
    EXPECT_EQ(result.status, 0) << args[0];
    EXPECT_EQ(result.out, kVersion) << args[0];
    EXPECT_EQ(result.err, "") << args[0];
    EXPECT_TRUE(aDirectory_Exists((store / "updater").c_str())) << args[0];
  }
}

// Without -i the store lives under the user's home from the password
// database. A private mount namespace puts an empty tmpfs over that home, so
// the test never touches the real one.
TEST_F(UpdaterCli, DefaultStorageDirectoryIsUnderTheHome) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a private mount namespace";
  char userHome[2048];
  ASSERT_EQ(aDirectory_GetHomeDirectory(userHome, sizeof userHome), aErrNone);
  const std::string script =
      "mount -t tmpfs none \"$1\" && \"$2\" -I >/dev/null && stat -c %a \"$1/.quorvant/updater\"";
  const auto result = wftest::run("/usr/bin/unshare", {"-m", "--propagation", "private", "/bin/sh", "-c", script,
                                                      "sh", userHome, wftest::binPath("updater")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "755\n");
}

TEST_F(UpdaterCli, UnusableStorageDirectory) {
  wftest::TempDir temp;
  wftest::run("/bin/sh", {"-c", "echo x > " + (temp / "file")});
  const auto result = updater({"-I", "-i", temp / "file"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, kVersion);
  EXPECT_EQ(result.err, "Could not find updater directory at " + (temp / "file/updater") + "\n");
}

TEST_F(UpdaterCli, DiagnosticLogGoesToStandardError) {
  wftest::TempDir store;
  const auto result = updater({"-X", "0x10001", "-d", "0x40f5849a", "-I", "spare", "-i", store.path()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kVersion);
  EXPECT_EQ(result.err,
            "Discarding '0x' serial number prefix\n\nApplication parameters:[updater]\n\t[" +
                wftest::binPath("updater") + "]\n\t[-X]\n\t[0x10001]\n\t[-d]\n\t[0x40f5849a]\n\t[-I]\n\t[-i]\n\t[" + store.path() +
                "]\n\t[spare]\n");
}
