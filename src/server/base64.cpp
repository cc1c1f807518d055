#include "server/base64.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// A table entry with these bits set is not a character of the alphabet; the
// OR of a group's four entries shows at once whether the group is clean.
constexpr uint32_t kInvalid = 0xFF000000u;

// The inverse of the alphabet; every other byte, "=" included, is refused
// (the padding of the last group is handled apart).
constexpr std::array<uint32_t, 256> _build_decoding_table() {
  std::array<uint32_t, 256> table{};
  table.fill(kInvalid);
  for (uint32_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  return table;
}

constexpr std::array<uint32_t, 256> kDecoding = _build_decoding_table();

// Decodes `length` characters (a multiple of 4) into `out`, which may be the
// input itself: each group's three bytes land at or before the group's own
// place. The number of bytes, or nothing when the text is not base64.
std::optional<size_t> _decode(const unsigned char* in, size_t length, unsigned char* out) {
  if (length == 0) return 0;
  const size_t padding = in[length - 1] != '=' ? 0 : in[length - 2] == '=' ? 2 : 1;
  size_t written = 0;
  for (size_t i = 0; i < length; i += 4) {
    uint32_t c = kDecoding[in[i + 2]], d = kDecoding[in[i + 3]];
    if (i + 4 == length) {  // only the last group may end in "="
      if (padding == 2) c = 0;
      if (padding >= 1) d = 0;
    }
    const uint32_t group = kDecoding[in[i]] << 18 | kDecoding[in[i + 1]] << 12 | c << 6 | d;
    if ((kDecoding[in[i]] | kDecoding[in[i + 1]] | c | d) & kInvalid) return std::nullopt;
    out[written] = static_cast<unsigned char>(group >> 16);
    out[written + 1] = static_cast<unsigned char>(group >> 8);
    out[written + 2] = static_cast<unsigned char>(group);
    written += 3;
  }
  return written - padding;
}

}  // namespace

char* base64_decode(const char* text, size_t length, size_t* outLength) {
  if (text == nullptr || outLength == nullptr || length % 4 != 0) return nullptr;
  // Three bytes per group are written before the padding is taken off.
  auto* out = static_cast<unsigned char*>(malloc(length / 4 * 3 + 1));
  if (out == nullptr) return nullptr;
  const std::optional<size_t> decoded = _decode(reinterpret_cast<const unsigned char*>(text), length, out);
  if (!decoded) {
    free(out);
    return nullptr;
  }
  out[*decoded] = 0;
  *outLength = *decoded;
  return reinterpret_cast<char*>(out);
}

bool base64_decode_in_place(std::string& text) {
  if (text.size() % 4 != 0) return false;
  auto* bytes = reinterpret_cast<unsigned char*>(text.data());
  const std::optional<size_t> decoded = _decode(bytes, text.size(), bytes);
  if (!decoded) return false;
  text.resize(*decoded);
  return true;
}

char* base64_encode(const char* bytes, size_t length, size_t* outLength) {
  if ((bytes == nullptr && length > 0) || outLength == nullptr) return nullptr;
  const size_t encoded = (length + 2) / 3 * 4;
  auto* out = static_cast<char*>(malloc(encoded + 1));
  if (out == nullptr) return nullptr;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  size_t o = 0;
  for (size_t i = 0; i < length; i += 3) {
    const size_t left = length - i;
    const uint32_t triple = (uint32_t{in[i]} << 16) | (left > 1 ? uint32_t{in[i + 1]} << 8 : 0u) |
                            (left > 2 ? uint32_t{in[i + 2]} : 0u);
    out[o++] = kAlphabet[(triple >> 18) & 0x3F];
    out[o++] = kAlphabet[(triple >> 12) & 0x3F];
    out[o++] = left > 1 ? kAlphabet[(triple >> 6) & 0x3F] : '=';
    out[o++] = left > 2 ? kAlphabet[triple & 0x3F] : '=';
  }
  out[o] = 0;
  *outLength = encoded;
  return out;
}
