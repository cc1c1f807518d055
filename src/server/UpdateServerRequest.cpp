#include "server/UpdateServerRequest.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "app/Log.h"
#include "server/HTTPRequest.h"

namespace {

using Params = std::map<std::string, std::string>;
using Lines = std::vector<std::string_view>;

// The answer's lines split at line feeds; runs of line feeds count as one.
constexpr const char* delimiters = "\n";

// Splits at any of the `separators`; runs of separators count as one, so no
// piece is empty. The pieces point into `text`.
std::vector<std::string_view> _split(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> pieces;
  size_t start = text.find_first_not_of(separators);
  while (start != std::string_view::npos) {
    // One separator is looked for with find, which scans a line of megabytes
    // at memory speed; find_first_of tests every character against the set.
    const size_t end =
        separators.size() == 1 ? text.find(separators[0], start) : text.find_first_of(separators, start);
    pieces.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    start = end == std::string_view::npos ? end : text.find_first_not_of(separators, end);
  }
  return pieces;
}

std::string _serial_text(unsigned int serial) {
  char text[9];
  snprintf(text, sizeof text, "%08X", serial);
  return text;
}

// One answer: its body and its lines, which point into the body. Not copied
// or moved, so the lines stay valid; GetBuild takes the body over at the end.
struct Answer {
  std::string body;
  Lines lines;
  Answer() = default;
  Answer(const Answer&) = delete;
  Answer& operator=(const Answer&) = delete;
  std::string line(size_t i) const { return i < lines.size() ? std::string(lines[i]) : std::string(); }
};

// The common part of every question: the GET, the status and the "ok" line.
// False when the question failed; otherwise `answer` holds the lines.
bool _ask(const char* name, const char* url, Params& params, Answer& answer) {
  try {
    HTTPResponse response = HTTPRequest::GET(url != nullptr ? url : UpdateServerRequest::default_url, params);
    if (response.get_status() != 200) {
      if (std::string_view(name) == "ping")
        Log::log(DEBUG_ServerComm, "PING ==> [%d] [%s]\n", static_cast<int>(response.get_status()),
                 response.get_response());
      else
        Log::log(DEBUG_ServerComm, "%s ==> [%d] [%s]\n", name, static_cast<int>(response.get_status()),
                 response.get_response());
      return false;
    }
    answer.body = response.take_response();
    answer.lines = _split(answer.body, delimiters);
    if (answer.lines.empty() || !answer.lines.front().starts_with("ok")) {
      Log::log(DEBUG_ServerComm, "ServerCommClass: %s failed [%s]\n", name, response.get_request());
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    Log::log(DEBUG_ServerComm, "%s ==> [%s]\n", name, e.what());
    return false;
  }
}

// Three numbers of a version, each kept modulo 256 as the modules store them;
// nothing when the text is not three numbers.
std::optional<std::tuple<uint8_t, uint8_t, uint8_t>> _version_triple(const std::string& version) {
  const std::vector<std::string> parts = UpdateServerRequest::SplitWrenfieldVersion(version);
  if (parts.empty()) return std::nullopt;
  try {
    return std::tuple{static_cast<uint8_t>(std::stoi(parts[0])), static_cast<uint8_t>(std::stoi(parts[1])),
                      static_cast<uint8_t>(std::stoi(parts[2]))};
  } catch (const std::exception& e) {
    Log::log(DEBUG_ServerComm, "%s: Exception converting version: %s\n", "_sortVersion", e.what());
    return std::nullopt;
  }
}

}  // namespace

bool UpdateServerRequest::ping(const char* url) {
  Params params{{"op", "hi"}, {"rv", "2"}};
  Answer answer;
  return _ask("ping", url, params, answer);
}

bool UpdateServerRequest::QueryBuild(unsigned int serial, std::string& build, std::string& firmware,
                                     const char* url) {
  Params params{{"op", "qu"}, {"sn", _serial_text(serial)}};
  Answer answer;
  if (!_ask("QueryBuild", url, params, answer)) return false;
  if (answer.lines.size() > 1) build = answer.lines[1];
  if (answer.lines.size() > 2) firmware = answer.lines[2].substr(0, answer.lines[2].find_first_of("\r\n"));
  return true;
}

bool UpdateServerRequest::GetBuild(unsigned int serial, const char* firmware, const char* build, std::string& bird,
                                   const char* url, bool noCal) {
  Params params{{"bld", build != nullptr ? build : ""},
                {"fw", firmware != nullptr ? firmware : ""},
                {"no_cal", noCal ? "true" : "false"},
                {"op", "bird"},
                {"sn", _serial_text(serial)}};
  Answer answer;
  if (!_ask("GetBuild", url, params, answer)) return false;
  bird.clear();
  if (answer.lines.size() < 2) return true;
  // The image is most of the body: the body becomes the line in place
  // rather than being copied once more.
  const size_t start = static_cast<size_t>(answer.lines[1].data() - answer.body.data());
  const size_t length = answer.lines[1].size();
  bird = std::move(answer.body);
  bird.resize(start + length);
  bird.erase(0, start);
  return true;
}

bool UpdateServerRequest::GetBuildList(unsigned int serial, std::map<std::string, std::string>& builds,
                                       const char* url) {
  builds.clear();
  Params params{{"op", "builds"}, {"sn", _serial_text(serial)}};
  Answer answer;
  if (!_ask("GetBuildList", url, params, answer)) return false;
  for (size_t i = 1; i < answer.lines.size(); ++i) {
    const std::string line = answer.line(i);
    if (line.size() < 3) continue;
    Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", "GetBuildList", line.c_str());
    const Lines pieces = _split(line, ";\r\n");
    if (pieces.empty()) continue;
    const std::string build(pieces[0]);
    const std::string version(pieces.size() > 1 ? pieces[1] : std::string_view());
    if (builds.emplace(build, version).second)
      Log::log(DEBUG_ServerComm, "%s [%.10s][%.10s]\n", "GetBuildList", build.c_str(), version.c_str());
  }
  return true;
}

bool UpdateServerRequest::GetRecoveryInfo(const unsigned int* fingerprint, unsigned int* serial, unsigned int* build,
                                          const char* url) {
  if (fingerprint == nullptr || serial == nullptr || build == nullptr) return false;
  char words[64];
  snprintf(words, sizeof words, "%08X%%20%08X%%20%08X%%20%08X", fingerprint[0], fingerprint[1], fingerprint[2],
           fingerprint[3]);
  Params params{{"brief", "true"}, {"fp", words}, {"op", "fix"}};
  Answer answer;
  if (!_ask("GetRecoveryInfo", url, params, answer)) return false;
  const std::string first = answer.line(0), second = answer.line(1), third = answer.line(2);
  if (answer.lines.size() > 1) *serial = static_cast<unsigned int>(strtoul(second.c_str(), nullptr, 16));
  if (answer.lines.size() > 2) *build = static_cast<unsigned int>(strtoul(third.c_str(), nullptr, 0));
  Log::log(DEBUG_ServerComm, "%s [%.20s][%.20s][%.20s]\n", "GetRecoveryInfo", first.c_str(), second.c_str(),
           third.c_str());
  return true;
}

bool UpdateServerRequest::GetDeviceJWT(unsigned int serial, std::string& token, const char* url) {
  Params params{{"json", "false"}, {"op", "ent_jwt"}, {"sn", _serial_text(serial)}};
  Answer answer;
  if (!_ask("GetDeviceJWT", url, params, answer) || answer.lines.size() < 2) return false;
  const std::string line = answer.line(1);
  if (line.size() <= 2) return false;
  Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", "GetDeviceJWT", line.c_str());
  const std::string_view text(line);
  const size_t first = text.find('.');
  if (first == std::string_view::npos) return false;
  const size_t second = text.find('.', first + 1);
  if (second == std::string_view::npos) return false;
  const std::string_view header = text.substr(0, first);
  const std::string_view payload = text.substr(first + 1, second - first - 1);
  std::string_view signature = text.substr(second + 1);
  signature = signature.substr(0, signature.find_first_of("\r\n"));
  if (header.size() < 2 || payload.size() < 2 || signature.size() < 2) return false;
  token.assign(header).append(".").append(payload).append(".").append(signature);
  return true;
}

std::vector<std::pair<std::string, std::string>> UpdateServerRequest::SortBuildsByVersion(
    const std::map<std::string, std::string>& builds) {
  struct Entry {
    std::pair<std::string, std::string> build;
    std::optional<std::tuple<uint8_t, uint8_t, uint8_t>> version;
  };
  std::vector<Entry> entries;
  entries.reserve(builds.size());
  for (const auto& build : builds) entries.push_back({build, _version_triple(build.second)});
  // Newest first; a version that is not three numbers has no place among the
  // others and goes after all of them, which keeps the order strict and weak.
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) {
    if (x.version.has_value() != y.version.has_value()) return x.version.has_value();
    return x.version.has_value() && *x.version > *y.version;
  });
  std::vector<std::pair<std::string, std::string>> sorted;
  sorted.reserve(entries.size());
  for (Entry& entry : entries) sorted.push_back(std::move(entry.build));
  return sorted;
}

std::vector<std::string> UpdateServerRequest::SplitWrenfieldVersion(std::string version) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t dot = version.find('.', start);
    parts.push_back(version.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (parts.size() != 3) parts.clear();
  return parts;
}
