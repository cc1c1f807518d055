#include "server/UpdateServerRequest.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string_view>
#include <tuple>

#include "app/Log.h"
#include "server/HTTPRequest.h"

namespace {

using Params = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;

// The answer's lines split at line feeds; runs of line feeds count as one.
constexpr const char* delimiters = "\n";

// Splits at any of the `separators`; runs of separators count as one, so no
// piece is empty.
std::vector<std::string> _split(std::string_view text, std::string_view separators) {
  std::vector<std::string> pieces;
  size_t start = text.find_first_not_of(separators);
  while (start != std::string_view::npos) {
    const size_t end = text.find_first_of(separators, start);
    pieces.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    start = end == std::string_view::npos ? end : text.find_first_not_of(separators, end);
  }
  return pieces;
}

std::string _serial_text(unsigned int serial) {
  char text[9];
  snprintf(text, sizeof text, "%08X", serial);
  return text;
}

// The common part of every question: the GET, the status and the "ok" line.
// The lines of the answer, or nothing when the question failed.
std::optional<Lines> _ask(const char* name, const char* url, Params& params) {
  try {
    const HTTPResponse response = HTTPRequest::GET(url != nullptr ? url : UpdateServerRequest::default_url, params);
    if (response.get_status() != 200) {
      if (std::string_view(name) == "ping")
        Log::log(DEBUG_ServerComm, "PING ==> [%d] [%s]\n", static_cast<int>(response.get_status()),
                 response.get_response());
      else
        Log::log(DEBUG_ServerComm, "%s ==> [%d] [%s]\n", name, static_cast<int>(response.get_status()),
                 response.get_response());
      return std::nullopt;
    }
    Lines lines = _split(response.body(), delimiters);
    if (lines.empty() || lines.front().compare(0, 2, "ok") != 0) {
      Log::log(DEBUG_ServerComm, "ServerCommClass: %s failed [%s]\n", name, response.get_request());
      return std::nullopt;
    }
    return lines;
  } catch (const std::exception& e) {
    Log::log(DEBUG_ServerComm, "%s ==> [%s]\n", name, e.what());
    return std::nullopt;
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
  return _ask("ping", url, params).has_value();
}

bool UpdateServerRequest::QueryBuild(unsigned int serial, std::string& build, std::string& firmware,
                                     const char* url) {
  Params params{{"op", "qu"}, {"sn", _serial_text(serial)}};
  const std::optional<Lines> lines = _ask("QueryBuild", url, params);
  if (!lines) return false;
  if (lines->size() > 1) build = (*lines)[1];
  if (lines->size() > 2) {
    const std::string& line = (*lines)[2];
    firmware = line.substr(0, line.find_first_of("\r\n"));
  }
  return true;
}

bool UpdateServerRequest::GetBuild(unsigned int serial, const char* firmware, const char* build, std::string& bird,
                                   const char* url, bool noCal) {
  Params params{{"bld", build != nullptr ? build : ""},
                {"fw", firmware != nullptr ? firmware : ""},
                {"no_cal", noCal ? "true" : "false"},
                {"op", "bird"},
                {"sn", _serial_text(serial)}};
  std::optional<Lines> lines = _ask("GetBuild", url, params);
  if (!lines) return false;
  bird.clear();
  if (lines->size() > 1) bird = std::move((*lines)[1]);
  return true;
}

bool UpdateServerRequest::GetBuildList(unsigned int serial, std::map<std::string, std::string>& builds,
                                       const char* url) {
  builds.clear();
  Params params{{"op", "builds"}, {"sn", _serial_text(serial)}};
  const std::optional<Lines> lines = _ask("GetBuildList", url, params);
  if (!lines) return false;
  for (size_t i = 1; i < lines->size(); ++i) {
    const std::string& line = (*lines)[i];
    if (line.size() < 3) continue;
    Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", "GetBuildList", line.c_str());
    const std::vector<std::string> pieces = _split(line, ";\r\n");
    if (pieces.empty()) continue;
    const std::string& build = pieces[0];
    const std::string version = pieces.size() > 1 ? pieces[1] : std::string();
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
  const std::optional<Lines> lines = _ask("GetRecoveryInfo", url, params);
  if (!lines) return false;
  const auto line = [&lines](size_t i) { return i < lines->size() ? (*lines)[i].c_str() : ""; };
  if (lines->size() > 1) *serial = static_cast<unsigned int>(strtoul(line(1), nullptr, 16));
  if (lines->size() > 2) *build = static_cast<unsigned int>(strtoul(line(2), nullptr, 0));
  Log::log(DEBUG_ServerComm, "%s [%.20s][%.20s][%.20s]\n", "GetRecoveryInfo", line(0), line(1), line(2));
  return true;
}

bool UpdateServerRequest::GetDeviceJWT(unsigned int serial, std::string& token, const char* url) {
  Params params{{"json", "false"}, {"op", "ent_jwt"}, {"sn", _serial_text(serial)}};
  const std::optional<Lines> lines = _ask("GetDeviceJWT", url, params);
  if (!lines || lines->size() < 2) return false;
  const std::string& line = (*lines)[1];
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
