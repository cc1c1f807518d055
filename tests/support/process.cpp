#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace wftest {

namespace {

void drainInto(int fd, std::string& sink, bool& open) {
  char buffer[4096];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got > 0)
    sink.append(buffer, static_cast<size_t>(got));
  else if (got == 0 || (errno != EINTR && errno != EAGAIN))
    open = false;  // EIO on a pty master means the child side closed
}

}  // namespace

std::string binPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  return std::string(WF_BIN_DIR) + "/" + program;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

RunResult run(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
  int outPipe[2];
  int errPipe[2];
  if (pipe(errPipe) != 0) throw std::runtime_error("pipe");
  int outRead = -1;
  int outWrite = -1;
  if (options.stdoutOnTerminal) {
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&outRead, &outWrite, nullptr, &raw, nullptr) != 0) throw std::runtime_error("openpty");
  } else {
    if (pipe(outPipe) != 0) throw std::runtime_error("pipe");
    outRead = outPipe[0];
    outWrite = outPipe[1];
  }

  const std::string path = binPath(program);
  std::vector<std::string> argStore{path};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork");
  if (child == 0) {
    for (const auto& [key, value] : options.env) setenv(key.c_str(), value.c_str(), 1);
    const int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, STDIN_FILENO);
    dup2(outWrite, STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    close(outRead);
    close(errPipe[0]);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(outWrite);
  close(errPipe[1]);

  RunResult result;
  bool outOpen = true;
  bool errOpen = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
  while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
    pollfd fds[2] = {{outOpen ? outRead : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
    if (poll(fds, 2, 100) <= 0) continue;
    if (fds[0].revents != 0) drainInto(outRead, result.out, outOpen);
    if (fds[1].revents != 0) drainInto(errPipe[0], result.err, errOpen);
  }
  if (outOpen || errOpen) kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(outRead);
  close(errPipe[0]);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "wftest.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace wftest
