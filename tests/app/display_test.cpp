#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "app/CLI_Display.h"
#include "app/Log.h"
#include "support/recording_display.h"

namespace {

struct Output {
  std::string out;
  std::string err;
};

void readAll(int fd, std::string& sink) {
  char buffer[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return;
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) return;  // EIO once the child's side of the terminal is closed
    sink.append(buffer, static_cast<size_t>(got));
  }
}

// Runs `body` in a child whose standard output is a raw pseudo-terminal (or a
// pipe) and whose standard error is a pipe; returns what each received.
Output capture(bool terminal, const std::function<void(CLI_Display&)>& body) {
  int outRead = -1, outWrite = -1, errPipe[2];
  if (terminal) {
    termios raw{};
    cfmakeraw(&raw);
    EXPECT_EQ(openpty(&outRead, &outWrite, nullptr, &raw, nullptr), 0);
  } else {
    int p[2];
    EXPECT_EQ(pipe(p), 0);
    outRead = p[0];
    outWrite = p[1];
  }
  EXPECT_EQ(pipe(errPipe), 0);
  const pid_t child = fork();
  if (child == 0) {
    dup2(outWrite, STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    CLI_Display display;
    body(display);
    _exit(0);
  }
  close(outWrite);
  close(errPipe[1]);
  Output output;
  readAll(outRead, output.out);
  readAll(errPipe[0], output.err);
  close(outRead);
  close(errPipe[0]);
  waitpid(child, nullptr, 0);
  return output;
}

std::string rep(char c, size_t n) { return std::string(n, c); }

const std::string kWipe = "\r" + rep(' ', 88) + "\r";

}  // namespace

TEST(ProgressBar, ExactLinesOnATerminal) {
  struct Case {
    double fraction;
    const char* label;
    std::string line;
  };
  const Case cases[] = {
      {0.0, nullptr, "\r[>" + rep(' ', 68) + "] (  0% ) "},
      {0.5, nullptr, "\r[" + rep('=', 34) + ">" + rep(' ', 34) + "] ( 50% ) "},
      {0.999, nullptr, "\r[" + rep('=', 68) + ">] ( 99% ) "},
      {1.0, nullptr, "\r[" + rep('=', 69) + "> ] (100% ) "},
      // With a label the bar shrinks by the label's length and 4.
      {0.25, "abc", "\r (abc) [" + rep('=', 15) + ">" + rep(' ', 46) + "] ( 25% ) "},
      {1.0, "abc", "\r (abc) [" + rep('=', 62) + "> ] (100% ) "},
  };
  for (const Case& c : cases) {
    const Output o = capture(true, [&](CLI_Display& d) { d.update_progress(c.fraction, c.label); });
    EXPECT_EQ(o.out, c.line) << c.fraction;
    EXPECT_EQ(o.err, "");
  }
  EXPECT_EQ(capture(true, [](CLI_Display& d) { d.display_progress(true); }).out, "");
  EXPECT_EQ(capture(true, [](CLI_Display& d) { d.display_progress(false); }).out, kWipe);
}

TEST(Spinner, FramesCycleAndWipe) {
  const Output o = capture(true, [](CLI_Display& d) {
    for (int i = 0; i < 9; ++i) d.update_spinner(true, nullptr);
    d.update_spinner(true, "dl");
    d.update_spinner(false, nullptr);
  });
  std::string expected;
  for (const char* frame : {".", "..", "...", "....", ".....", "....", "...", "..", "."})
    expected += std::string("\r ") + frame + "      \r";
  expected += "\r (dl) ..      \r" + kWipe;
  EXPECT_EQ(o.out, expected);
}

TEST(Display, RedirectedOutputCarriesNoAnimation) {
  const Output o = capture(false, [](CLI_Display& d) {
    d.update_progress(0.5, "x");
    d.update_spinner(true, nullptr);
    d.update_spinner(false, nullptr);
    d.display_progress(false);
    d.message(UpdaterDisplayInterface::info, "Stored %d", 7);
    d.message(UpdaterDisplayInterface::error, "Failed %s", "here");
  });
  EXPECT_EQ(o.out, "Stored 7\n");
  EXPECT_EQ(o.err, "Failed here\n");
}

TEST(Display, MutingSilencesMessagesOnly) {
  const Output o = capture(true, [](CLI_Display& d) {
    d.mute_messages(true);
    d.message(UpdaterDisplayInterface::info, "hidden");
    d.message(UpdaterDisplayInterface::error, "hidden");
    d.update_progress(0.0, nullptr);
    d.info_message("direct");
    d.mute_messages(false);
    d.message(7, "any level but 1 is information");
  });
  EXPECT_EQ(o.out, "\r[>" + rep(' ', 68) + "] (  0% ) direct\nany level but 1 is information\n");
  EXPECT_EQ(o.err, "");
}

TEST(Display, LongMessagesAreCut) {
  wftest::RecordingDisplay display;
  display.message(UpdaterDisplayInterface::info, "%s", rep('x', 3000).c_str());
  ASSERT_EQ(display.infos.size(), 1u);
  EXPECT_EQ(display.infos[0], rep('x', 2047));
}

TEST(LogPackages, MaskDecidesAndPackageZeroAlwaysWrites) {
  FILE* sink = tmpfile();
  ASSERT_NE(sink, nullptr);
  Log::SetOutput(sink);
  Log::DeactivatePackage(0xFFFFFFFF);
  Log::log(DEBUG_Network_FIRM, "firm %d\n", 1);
  Log::log(0, "always\n");
  Log::ActivatePackage(DEBUG_Network_FIRM | DEBUG_APP);
  Log::log(DEBUG_Network_FIRM, "firm %d\n", 2);
  Log::log(DEBUG_BirdFile, "bird\n");
  Log::DeactivatePackage(DEBUG_Network_FIRM);
  Log::log(DEBUG_Network_FIRM, "firm %d\n", 3);
  Log::log(DEBUG_APP, "%s", rep('y', 3000).c_str());
  Log::SetOutput(nullptr);
  Log::log(0, "nowhere\n");
  Log::DeactivatePackage(0xFFFFFFFF);
  rewind(sink);
  std::string text(8192, '\0');
  text.resize(fread(text.data(), 1, text.size(), sink));
  fclose(sink);
  EXPECT_EQ(text, "always\nfirm 2\n" + rep('y', 2047));
}
