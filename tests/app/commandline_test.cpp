#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Log.h"
#include "support/recording_display.h"

namespace {

struct Scan {
  int result = -1;
  Parameters params;
  wftest::RecordingDisplay display;
};

Scan scan(std::vector<std::string> args) {
  Log::DeactivatePackage(0xFFFFFFFF);
  args.insert(args.begin(), "/usr/local/bin/updater");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  Scan s;
  s.result = _get_params(s.display, static_cast<int>(args.size()), argv.data(), &s.params);
  return s;
}

using Check = std::function<void(const Scan&)>;

struct Case {
  std::vector<std::string> args;
  int result;
  uint32_t commands;
  Check check;
};

Check errorIs(const std::string& text) {
  return [text](const Scan& s) {
    ASSERT_EQ(s.display.errors.size(), 1u);
    EXPECT_EQ(s.display.errors[0], text);
  };
}

}  // namespace

TEST(OptionScan, TableOfCommandLines) {
  const Case cases[] = {
      {{}, 0, 0, [](const Scan& s) {
         EXPECT_EQ(s.params.programName, "updater");
         EXPECT_EQ(s.params.transport, 1u);
         EXPECT_EQ(s.params.baudRate, 115200u);
         EXPECT_TRUE(s.params.useUEIBytes);
         EXPECT_EQ(s.params.serverUrl, "http://update.quorvant.com/cgi/u");
         EXPECT_EQ(s.params.logFileName, "Updater.log");
         EXPECT_EQ(s.params.logFileMode, "a+");
       }},
      // Help ends the scan: what follows is not looked at.
      {{"-h", "-X", "1", "-D"}, 0, COMMAND_HELP, [](const Scan& s) {
         EXPECT_TRUE(s.params.helpRequested);
         EXPECT_FALSE(s.params.logMaskGiven);
       }},
      {{"-X", "1", "-H"}, 0, COMMAND_HELP, [](const Scan& s) { EXPECT_TRUE(s.params.logMaskGiven); }},
      {{"--he"}, 0, COMMAND_HELP, nullptr},
      {{"-d", "zz", "--help"}, 0, COMMAND_HELP, nullptr},
      {{"-D", "-U", "-d", "1"}, 0, COMMAND_DISCOVER | COMMAND_UPDATE,
       [](const Scan& s) { EXPECT_EQ(s.params.serialNumber, 1u); }},
      {{"-d", "0x40f5849a"}, 0, 0, [](const Scan& s) { EXPECT_EQ(s.params.serialNumber, 0x40F5849Au); }},
      {{"-d=40F5849A", "-G"}, 0, COMMAND_GET_BUILD, [](const Scan& s) { EXPECT_EQ(s.params.serialNumber, 0x40F5849Au); }},
      {{"-d", "40F5849G"}, 1, 0, errorIs("Invalid serial number obtained from argument [40F5849G]")},
      {{"-d", "0x"}, 1, 0, errorIs("Invalid serial number obtained from argument []")},
      {{"-d", "0"}, 1, 0, errorIs("Invalid serial number obtained from argument [0]")},
      {{"-r", "0XD272031D"}, 0, 0, [](const Scan& s) { EXPECT_EQ(s.params.routerSerial, 0xD272031Du); }},
      {{"-r", "router"}, 1, 0, errorIs("Invalid router serial number obtained from argument [router]")},
      // Invalid options are skipped silently.
      {{"-d"}, 0, 0, [](const Scan& s) { EXPECT_TRUE(s.display.errors.empty()); }},
      {{"-Q", "-DU", "-d40F5849A", "-D=1", "-", "-help"}, 0, 0,
       [](const Scan& s) {
         EXPECT_EQ(s.params.serialNumber, 0u);
         EXPECT_TRUE(s.display.errors.empty());
       }},
      {{"-d", "-U"}, 0, COMMAND_UPDATE, [](const Scan& s) { EXPECT_EQ(s.params.serialNumber, 0u); }},
      {{"stray", "-L", "words"}, 0, COMMAND_LIST_LOCAL_BUILDS, nullptr},
      // Transports are matched by prefix, case-sensitively.
      {{"-t", "TCPIP"}, 0, 0, [](const Scan& s) { EXPECT_EQ(s.params.transport, 2u); EXPECT_TRUE(s.params.transportGiven); }},
      {{"-t", "TCPX"}, 0, 0, [](const Scan& s) { EXPECT_EQ(s.params.transport, 2u); }},
      {{"-t", "USBX"}, 0, 0, [](const Scan& s) { EXPECT_EQ(s.params.transport, 1u); }},
      {{"-t", "RECOVER", "-s", "/dev/ttyS0", "-U"}, 0, COMMAND_UPDATE,
       [](const Scan& s) {
         EXPECT_EQ(s.params.transport, 255u);
         EXPECT_EQ(s.params.serialPort, "/dev/ttyS0");
       }},
      {{"-t", "usb"}, 1, 0, [](const Scan& s) {
         errorIs("Invalid transport type:[usb]\nMust be one of the following: USB, TCPIP, RECOVER")(s);
         EXPECT_EQ(s.params.transport, 0u);
         EXPECT_TRUE(s.params.transportGiven);
       }},
      {{"-t", "RECOVE"}, 1, 0, [](const Scan& s) { EXPECT_EQ(s.params.transport, 0u); }},
      // Numbers.
      {{"-b", "abc", "-U", "-d", "1"}, 0, COMMAND_UPDATE, [](const Scan& s) { EXPECT_EQ(s.params.buildNumber, "0"); }},
      {{"-b", "0099528558"}, 0, 0, [](const Scan& s) { EXPECT_EQ(s.params.buildNumber, "99528558"); }},
      {{"-o", "9600"}, 0, 0, [](const Scan& s) { EXPECT_EQ(s.params.baudRate, 9600u); }},
      {{"-o", "96k"}, 0, 0, [](const Scan& s) { EXPECT_EQ(s.params.baudRate, 0u); }},
      // UEI-bytes loading: "-m" alone has no argument and is skipped.
      {{"-m"}, 0, 0, [](const Scan& s) { EXPECT_TRUE(s.params.useUEIBytes); }},
      {{"-m", "0"}, 0, 0, [](const Scan& s) { EXPECT_FALSE(s.params.useUEIBytes); }},
      {{"-m", "1x"}, 0, 0, [](const Scan& s) { EXPECT_TRUE(s.params.useUEIBytes); }},
      {{"-m", "truely"}, 0, 0, [](const Scan& s) { EXPECT_TRUE(s.params.useUEIBytes); }},
      {{"-m", "tru"}, 0, 0, [](const Scan& s) { EXPECT_FALSE(s.params.useUEIBytes); }},
      // -OVERRIDE by any prefix that selects it.
      {{"-O"}, 0, 0, [](const Scan& s) { EXPECT_TRUE(s.params.overrideChecks); }},
      {{"-OVERRID"}, 0, 0, [](const Scan& s) { EXPECT_TRUE(s.params.overrideChecks); }},
      {{"-OVERRIDEX"}, 0, 0, [](const Scan& s) { EXPECT_FALSE(s.params.overrideChecks); }},
      {{"-OVERRIDE=1"}, 0, 0, [](const Scan& s) { EXPECT_FALSE(s.params.overrideChecks); }},
      {{"-Y", "-D"}, 1, COMMAND_DISCOVER, errorIs("Unhandled command: [-Y]")},
      {{"-Z", "x", "-I", "-C", "-N", "-J", "-B"}, 0,
       COMMAND_OPTION_Z | COMMAND_VIEW_INFO | COMMAND_CHECK_BIRDFILE | COMMAND_FINGERPRINT | COMMAND_GET_JWT |
           COMMAND_LIST_BUILDS,
       nullptr},
      {{"-i", "/srv/store", "-f", "a.bird", "-u", "http://127.0.0.1:8/cgi/u", "-l", "msg", "-k", "f.log", "-e", "-n"},
       0, 0, [](const Scan& s) {
         EXPECT_EQ(s.params.updaterDirectory, "/srv/store");
         EXPECT_EQ(s.params.birdFile, "a.bird");
         EXPECT_EQ(s.params.serverUrl, "http://127.0.0.1:8/cgi/u");
         EXPECT_EQ(s.params.historyMessage, "msg");
         EXPECT_EQ(s.params.logFileName, "f.log");
         EXPECT_TRUE(s.params.echoBytes);
         EXPECT_TRUE(s.params.flagN);
       }},
      // Log masks: decimal, hex, accumulated; leftovers are reported but do not fail the scan.
      {{"-X", "0x10", "-X", "4"}, 0, 0, [](const Scan&) {
         EXPECT_TRUE(Log::IsActive(0x10));
         EXPECT_TRUE(Log::IsActive(0x4));
         EXPECT_FALSE(Log::IsActive(0x1));
       }},
      {{"-X", "12abc"}, 0, 0, [](const Scan& s) {
         errorIs("Invalid format for \"-X\" parameter, unprocessed characters [abc]")(s);
         EXPECT_TRUE(s.params.logMaskGiven);
         EXPECT_FALSE(Log::IsActive(0x4));
       }},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const auto& arg : c.args) line += arg + " ";
    SCOPED_TRACE("command line: " + line);
    const Scan s = scan(c.args);
    EXPECT_EQ(s.result, c.result);
    EXPECT_EQ(s.params.commands.Bits(), c.commands);
    if (c.check) c.check(s);
  }
  Log::DeactivatePackage(0xFFFFFFFF);
}

TEST(OptionScan, CommandsAnyIsAnAnyBitTest) {
  CommandsClass commands;
  EXPECT_FALSE(commands.IsSet(COMMANDS_ANY));
  commands.Set(COMMAND_OPTION_Z);
  EXPECT_TRUE(commands.IsSet(COMMANDS_ANY));
  EXPECT_TRUE(commands.IsSet(COMMAND_OPTION_Z | COMMAND_DISCOVER));
  EXPECT_FALSE(commands.IsSet(COMMAND_HELP));
}

TEST(OptionScan, LogsTheCommandLineWithSetAsideWordsLast) {
  FILE* sink = tmpfile();
  ASSERT_NE(sink, nullptr);
  Log::SetOutput(sink);
  scan({"-X", "0x10001", "-d", "0x1F", "extra", "-I"});
  Log::SetOutput(nullptr);
  Log::DeactivatePackage(0xFFFFFFFF);
  rewind(sink);
  std::string text(4096, '\0');
  text.resize(fread(text.data(), 1, text.size(), sink));
  fclose(sink);
  EXPECT_EQ(text,
            "Discarding '0x' serial number prefix\n"
            "\nApplication parameters:[updater]\n"
            "\t[/usr/local/bin/updater]\n\t[-X]\n\t[0x10001]\n\t[-d]\n\t[0x1F]\n\t[-I]\n\t[extra]\n");
}

TEST(NumberArguments, WholeTextOrNothing) {
  struct Case {
    const char* text;
    bool hex;
    uint32_t value;
    bool consumed;
  };
  const Case cases[] = {
      {"1F", true, 0x1F, true},          {"40f5849A", true, 0x40F5849A, true}, {"1G", true, 0, false},
      {"FFFFFFFFF", true, 0xFFFFFFFF, true}, {"", true, 0, true},              {"123", false, 123, true},
      {"12a", false, 0, false},          {"-1", false, 0, false},              {"4294967297", false, 1, true},
  };
  for (const Case& c : cases) {
    char* end = nullptr;
    const uint32_t value = c.hex ? _get_hex_arg(c.text, &end) : _get_int_arg(c.text, &end);
    EXPECT_EQ(value, c.value) << c.text;
    if (c.consumed)
      EXPECT_EQ(end, c.text + strlen(c.text)) << c.text;
    else
      EXPECT_EQ(end, nullptr) << c.text;
  }
  EXPECT_EQ(_get_hex_arg("1F", nullptr), 0u);
  EXPECT_EQ(_get_int_arg("12", nullptr), 0u);
}
