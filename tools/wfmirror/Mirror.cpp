#include "Mirror.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <vector>

#include "server/base64.h"

namespace fs = std::filesystem;

namespace {

using Params = std::multimap<std::string, std::string>;

// The parameters each operation takes: exactly these, each once.
const std::map<std::string, std::set<std::string>> kOperations = {
    {"hi", {"op", "rv"}},
    {"qu", {"op", "sn"}},
    {"bird", {"bld", "fw", "no_cal", "op", "sn"}},
    {"builds", {"op", "sn"}},
    {"fix", {"brief", "fp", "op"}},
    {"ent_jwt", {"json", "op", "sn"}},
};

// Value files hold one short line; anything longer is not one of ours.
constexpr size_t kMaxValueBytes = 64 * 1024;
// A bird file larger than this is refused rather than held in memory twice.
constexpr uintmax_t kMaxBirdBytes = 32u * 1024u * 1024u;

MirrorAnswer _refuse(int status, const std::string& why) { return {status, "error: " + why + "\n"}; }

bool _all_of(const std::string& text, int (*test)(int)) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [test](char c) { return test(static_cast<unsigned char>(c)) != 0; });
}

std::optional<unsigned> _decimal(const std::string& text) {
  unsigned value = 0;
  if (!_all_of(text, isdigit)) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string _upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return static_cast<char>(toupper(static_cast<unsigned char>(c))); });
  return text;
}

bool _hex_word(const std::string& text) { return text.size() == 8 && _all_of(text, isxdigit); }
bool _flag(const std::string& text) { return text == "true" || text == "false"; }

// The four fingerprint words of op=fix, as the query carries them (the "%20"
// between them already decoded to blanks).
std::optional<std::vector<std::string>> _fingerprint(const std::string& text) {
  std::vector<std::string> words;
  size_t start = 0;
  while (words.size() < 5) {
    const size_t blank = text.find(' ', start);
    words.push_back(_upper(text.substr(start, blank == std::string::npos ? std::string::npos : blank - start)));
    if (blank == std::string::npos) break;
    start = blank + 1;
  }
  if (words.size() != 4 || !std::all_of(words.begin(), words.end(), _hex_word)) return std::nullopt;
  return words;
}

bool _valid_value(const std::string& name, const std::string& value) {
  if (name == "sn") return _hex_word(value);
  if (name == "bld") return _decimal(value).has_value();
  if (name == "rv") return _decimal(value).has_value();
  if (name == "no_cal" || name == "json" || name == "brief") return _flag(value);
  if (name == "fw") return !value.empty() && value.size() <= 256 && value.find_first_of("\r\n") == std::string::npos;
  if (name == "fp") return _fingerprint(value).has_value();
  return name == "op";
}

// The first line of a small text file, trimmed; nothing when it is missing.
std::optional<std::string> _read_value(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error) || fs::file_size(path, error) > kMaxValueBytes || error) return std::nullopt;
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  const size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::nullopt;
  return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

std::optional<std::string> _read_file(const fs::path& path) {
  std::error_code error;
  const uintmax_t size = fs::file_size(path, error);
  if (error || size > kMaxBirdBytes) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::string bytes(static_cast<size_t>(size), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return std::nullopt;
  return bytes;
}

// One module the mirror knows: a directory under devices/.
class Device {
 public:
  Device(const fs::path& root, const std::string& serial)
      : directory(root / "devices" / serial), serial_(serial), model(_read_value(directory / "model")) {
    if (model && (model->find('/') != std::string::npos || *model == "." || *model == ".."))
      model.reset();  // a model names a directory under models/, never a path
  }

  bool Known() const {
    std::error_code error;
    return fs::is_directory(directory, error);
  }

  // Build number to file: the model's builds, then the module's own, which
  // replace a model build of the same number.
  std::map<unsigned, fs::path> Builds() const {
    std::map<unsigned, fs::path> builds;
    if (model) _collect(directory.parent_path().parent_path() / "models" / *model, builds);
    _collect(directory, builds);
    return builds;
  }

  // The module's current build: its own "current", the model's, or the newest.
  std::optional<unsigned> Current(const std::map<unsigned, fs::path>& builds) const {
    if (auto value = _setting("current")) return _decimal(*value);
    if (builds.empty()) return std::nullopt;
    return builds.rbegin()->first;
  }

  std::string Firmware() const {
    if (auto value = _setting("firmware")) return *value;
    return model ? *model : serial_;
  }

  std::optional<std::string> Token() const { return _read_value(directory / "token"); }

 private:
  std::optional<std::string> _setting(const char* name) const {
    if (auto value = _read_value(directory / name)) return value;
    if (model) return _read_value(directory.parent_path().parent_path() / "models" / *model / name);
    return std::nullopt;
  }

  static void _collect(const fs::path& folder, std::map<unsigned, fs::path>& builds) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      const fs::path& file = it->path();
      if (file.extension() != ".bird" || !it->is_regular_file(error)) continue;
      const std::optional<unsigned> build = _decimal(file.stem().string());
      if (build && *build != 0) builds[*build] = file;
    }
  }

  fs::path directory;
  std::string serial_;
  std::optional<std::string> model;
};

MirrorAnswer _query_build(const Device& device) {
  const auto builds = device.Builds();
  const std::optional<unsigned> current = device.Current(builds);
  if (!current) return _refuse(404, "no builds for this device");
  return {200, "ok\n" + std::to_string(*current) + "\n" + device.Firmware() + "\n"};
}

MirrorAnswer _build_list(const Device& device, VersionCache& versions) {
  std::string body = "ok\n";
  for (const auto& [build, file] : device.Builds())
    body += std::to_string(build) + ";" + versions.Version(file) + "\n";
  return {200, body};
}

MirrorAnswer _bird(const Device& device, const std::string& build, const std::string& firmware) {
  if (firmware != device.Firmware()) return _refuse(404, "unknown firmware identifier " + firmware);
  const auto builds = device.Builds();
  const auto found = builds.find(*_decimal(build));
  if (found == builds.end()) return _refuse(404, "no build " + build + " for this device");
  const std::optional<std::string> bytes = _read_file(found->second);
  if (!bytes) return _refuse(500, "cannot read build " + build);
  size_t length = 0;
  char* text = base64_encode(bytes->data(), bytes->size(), &length);
  if (text == nullptr) return _refuse(500, "out of memory");
  MirrorAnswer answer{200, "ok\n"};
  answer.body.reserve(length + 4);
  answer.body.append(text, length).append("\n");
  free(text);
  return answer;
}

MirrorAnswer _token(const Device& device) {
  const std::optional<std::string> token = device.Token();
  if (!token) return _refuse(404, "no token for this device");
  return {200, "ok\n" + *token + "\n"};
}

// The module whose processor has the fingerprint: lines of the recovery file
// are "W0 W1 W2 W3 SERIAL" in hexadecimal; "#" starts a comment line.
MirrorAnswer _recovery(const fs::path& root, const std::string& fingerprint) {
  const std::vector<std::string> wanted = *_fingerprint(fingerprint);
  std::ifstream in(root / "recovery");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> words;
    for (size_t start = line.find_first_not_of(" \t\r"); start != std::string::npos && words.size() < 6;) {
      const size_t end = line.find_first_of(" \t\r", start);
      words.push_back(_upper(line.substr(start, end == std::string::npos ? std::string::npos : end - start)));
      start = end == std::string::npos ? end : line.find_first_not_of(" \t\r", end);
    }
    if (words.size() != 5 || !std::equal(wanted.begin(), wanted.end(), words.begin()) || !_hex_word(words[4]))
      continue;
    const Device device(root, words[4]);
    const auto builds = device.Builds();
    const std::optional<unsigned> current = device.Current(builds);
    if (!device.Known() || !current) return _refuse(404, "no builds for device " + words[4]);
    return {200, "ok\n" + words[4] + "\n" + std::to_string(*current) + "\n"};
  }
  return _refuse(404, "unknown fingerprint");
}

}  // namespace

Mirror::Mirror(std::string directory) : root(std::move(directory)) {}

MirrorAnswer Mirror::Answer(const Params& params) const {
  std::map<std::string, std::string> given;
  for (const auto& [name, value] : params)
    if (!given.emplace(name, value).second) return _refuse(400, "parameter " + name + " given more than once");
  const auto op = given.find("op");
  if (op == given.end()) return _refuse(400, "missing parameter op");
  const auto operation = kOperations.find(op->second);
  if (operation == kOperations.end()) return _refuse(400, "unknown operation " + op->second);
  for (const auto& [name, value] : given) {
    if (operation->second.count(name) == 0) return _refuse(400, "unexpected parameter " + name);
    if (!_valid_value(name, value)) return _refuse(400, "malformed parameter " + name);
  }
  for (const std::string& name : operation->second)
    if (given.count(name) == 0) return _refuse(400, "missing parameter " + name);

  const std::string& what = op->second;
  if (what == "hi") return {200, "ok\n"};
  if (what == "fix") return _recovery(root, given["fp"]);

  const Device device(root, _upper(given["sn"]));
  if (!device.Known()) return _refuse(404, "unknown device " + _upper(given["sn"]));
  if (what == "qu") return _query_build(device);
  if (what == "builds") return _build_list(device, versions);
  if (what == "bird") return _bird(device, given["bld"], given["fw"]);
  return _token(device);
}
