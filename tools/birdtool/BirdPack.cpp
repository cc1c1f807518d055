// birdtool pack: a JSON description becomes a bird file.
//
// The description (comments are allowed):
//
//   {
//     "format_version": 257,        // optional header version, default 0x0101
//     "compression_level": 9,       // optional zlib level 0-9; when absent, level 9,
//                                   // falling back to stored blocks when the body
//                                   // would inflate more than 8x (which no reader loads)
//     "declared_blocks": 3,         // optional count word, default the real count
//     "checksum": "0x1234",         // optional checksum word, default the sum of the
//                                   // body bytes before it
//     "blocks": [
//       {"type": "loader",   "address": "0x20000000", "data": DATA},
//       {"type": "firmware", "address": 0, "flags": 1, "data": DATA},
//       {"type": "serial",   "serial_address": "0x1010", "descriptor_address": "0x1020"},
//       {"type": "info", "build": 1234, "version": "1.2.3", "serial": "40F5849A", "model": "HubFour"},
//       {"type": "start",    "address": "0x20000400"},
//       {"type": 9, "data": DATA}   // any other type number: raw block data
//     ]
//   }
//
// DATA is one of
//   {"file": "image.bin"}                 bytes of a file (relative to the description)
//   {"hex": "DEADBEEF 0102"}              hexadecimal bytes (blanks ignored)
//   {"size": 4096, "pattern": "A55A"}     `size` bytes repeating the pattern (default "00")
//
// Numbers are JSON integers or texts ("0x20000400", "1234"). Every block also
// takes "flags" (0-7) and "length" (a length word that differs from the data,
// for malformed test files). Info fields are texts of at most 16 characters,
// padded with blanks.
#include "BirdPack.h"

#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace birdtool {

namespace {

using json = nlohmann::json;
using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxDataSize = 256u << 20;
constexpr size_t kInfoFieldSize = 16;
constexpr size_t kMaxRatio = 8;
constexpr size_t kHeaderSize = 6;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw std::runtime_error(where + ": " + what);
}

uint32_t number(const json& value, const std::string& where) {
  if (value.is_number_unsigned()) {
    const auto n = value.get<uint64_t>();
    if (n <= UINT32_MAX) return static_cast<uint32_t>(n);
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = strtoull(text.c_str(), &end, 0);
    if (!text.empty() && text[0] != '-' && *end == '\0' && errno == 0 && n <= UINT32_MAX) return static_cast<uint32_t>(n);
  }
  fail(where, "expected a 32-bit unsigned number, got " + value.dump());
}

uint32_t optionalNumber(const json& object, const char* key, uint32_t def, const std::string& where) {
  return object.contains(key) ? number(object[key], where + "." + key) : def;
}

void putInt(Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Bytes hexBytes(const std::string& text, const std::string& where) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == ':') continue;
    const int digit = hexDigit(c);
    if (digit < 0) fail(where, std::string("not a hexadecimal digit: '") + c + "'");
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) fail(where, "odd number of hexadecimal digits");
  return out;
}

Bytes readFile(const std::string& path, const std::string& where) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(where, "cannot read " + path);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() > kMaxDataSize) fail(where, path + " is too large");
  return bytes;
}

Bytes dataOf(const json& block, const std::string& baseDirectory, const std::string& where) {
  if (!block.contains("data")) return {};
  const json& data = block["data"];
  const std::string at = where + ".data";
  if (!data.is_object()) fail(at, "expected an object with \"file\", \"hex\" or \"size\"");
  if (data.contains("file")) {
    const std::string file = data["file"].get<std::string>();
    return readFile(!file.empty() && file[0] == '/' ? file : baseDirectory + "/" + file, at);
  }
  if (data.contains("hex")) return hexBytes(data["hex"].get<std::string>(), at + ".hex");
  if (data.contains("size")) {
    const uint32_t size = number(data["size"], at + ".size");
    if (size > kMaxDataSize) fail(at, "size too large");
    const Bytes pattern = hexBytes(data.value("pattern", std::string("00")), at + ".pattern");
    if (pattern.empty()) fail(at, "empty pattern");
    Bytes out(size);
    for (uint32_t i = 0; i < size; ++i) out[i] = pattern[i % pattern.size()];
    return out;
  }
  fail(at, "expected \"file\", \"hex\" or \"size\"");
}

Bytes infoData(const json& block, const std::string& where) {
  Bytes out;
  for (const char* key : {"build", "version", "serial", "model"}) {
    std::string text;
    if (block.contains(key)) {
      const json& value = block[key];
      text = value.is_string() ? value.get<std::string>() : std::to_string(number(value, where + "." + key));
    }
    if (text.size() > kInfoFieldSize) fail(where + "." + key, "longer than 16 characters");
    text.resize(kInfoFieldSize, ' ');
    out.insert(out.end(), text.begin(), text.end());
  }
  return out;
}

uint8_t typeOf(const json& block, const std::string& where) {
  static const std::map<std::string, uint8_t> kNames{
      {"loader", 0}, {"firmware", 1}, {"serial", 2}, {"info", 4}, {"start", 5}};
  const json& type = block.at("type");
  if (type.is_string()) {
    const auto found = kNames.find(type.get<std::string>());
    if (found == kNames.end()) fail(where, "unknown block type " + type.dump());
    return found->second;
  }
  const uint32_t value = number(type, where + ".type");
  if (value > 0x1F) fail(where, "block type above 31");
  return static_cast<uint8_t>(value);
}

Bytes blockData(uint8_t type, const json& block, const std::string& baseDirectory, const std::string& where) {
  Bytes data;
  switch (type) {
    case 0:
    case 1: {
      putInt(data, optionalNumber(block, "address", 0, where));
      const Bytes image = dataOf(block, baseDirectory, where);
      data.insert(data.end(), image.begin(), image.end());
      return data;
    }
    case 2:
      putInt(data, optionalNumber(block, "serial_address", 0, where));
      putInt(data, optionalNumber(block, "descriptor_address", 0, where));
      return data;
    case 4:
      return infoData(block, where);
    case 5:
      putInt(data, optionalNumber(block, "address", 0, where));
      return data;
    default:
      return dataOf(block, baseDirectory, where);
  }
}

Bytes compress(const Bytes& body, int level) {
  uLongf size = compressBound(body.size());
  Bytes out(size);
  if (compress2(out.data(), &size, body.data(), body.size(), level) != Z_OK) fail("body", "compression failed");
  out.resize(size);
  return out;
}

}  // namespace

std::vector<uint8_t> PackDescription(const std::string& descriptionPath) {
  std::ifstream in(descriptionPath);
  if (!in) fail(descriptionPath, "cannot read the description");
  json description;
  try {
    description = json::parse(in, nullptr, true, true);
  } catch (const json::exception& error) {
    fail(descriptionPath, error.what());
  }
  const size_t slash = descriptionPath.rfind('/');
  const std::string baseDirectory = slash == std::string::npos ? "." : descriptionPath.substr(0, slash);

  try {
    const json& blocks = description.at("blocks");
    if (!blocks.is_array()) fail("blocks", "expected an array");
    Bytes body;
    putInt(body, optionalNumber(description, "declared_blocks", static_cast<uint32_t>(blocks.size()), "description"));
    for (size_t i = 0; i < blocks.size(); ++i) {
      const std::string where = "blocks[" + std::to_string(i) + "]";
      const json& block = blocks[i];
      const uint8_t type = typeOf(block, where);
      const uint32_t flags = optionalNumber(block, "flags", 0, where);
      if (flags > 7) fail(where, "flags above 7");
      const Bytes data = blockData(type, block, baseDirectory, where);
      body.push_back(static_cast<uint8_t>(type | flags << 5));
      putInt(body, optionalNumber(block, "length", static_cast<uint32_t>(data.size()), where));
      body.insert(body.end(), data.begin(), data.end());
    }
    uint32_t sum = 0;
    for (uint8_t byte : body) sum += byte;
    putInt(body, optionalNumber(description, "checksum", sum, "description"));

    const uint32_t version = optionalNumber(description, "format_version", 0x0101, "description");
    if (version > 0xFFFF) fail("format_version", "above 0xFFFF");
    Bytes packed;
    if (description.contains("compression_level")) {
      const uint32_t level = number(description["compression_level"], "compression_level");
      if (level > 9) fail("compression_level", "above 9");
      packed = compress(body, static_cast<int>(level));
    } else {
      packed = compress(body, 9);
      if (body.size() > kMaxRatio * packed.size()) packed = compress(body, 0);
    }
    Bytes file;
    file.reserve(kHeaderSize + packed.size());
    for (uint8_t byte : {uint8_t{'b'}, uint8_t{'i'}, uint8_t{'r'}, uint8_t{'d'}, static_cast<uint8_t>(version >> 8),
                         static_cast<uint8_t>(version)})
      file.push_back(byte);
    file.insert(file.end(), packed.begin(), packed.end());
    return file;
  } catch (const json::exception& error) {
    fail(descriptionPath, error.what());
  }
}

}  // namespace birdtool
