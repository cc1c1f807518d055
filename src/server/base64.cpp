#include "server/base64.h"

#include <array>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int8_t kInvalid = -1;
constexpr int8_t kPad = -2;

// The inverse of the alphabet; every other byte is refused, "=" marked apart.
constexpr std::array<int8_t, 256> _build_decoding_table() {
  std::array<int8_t, 256> table{};
  table.fill(kInvalid);
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  table[static_cast<unsigned char>('=')] = kPad;
  return table;
}

constexpr std::array<int8_t, 256> kDecoding = _build_decoding_table();

}  // namespace

char* base64_decode(const char* text, size_t length, size_t* outLength) {
  if (text == nullptr || outLength == nullptr || length % 4 != 0) return nullptr;
  size_t padding = 0;
  if (length > 0 && text[length - 1] == '=') ++padding;
  if (length > 1 && text[length - 2] == '=') ++padding;
  // "x=y=" is not padding: only the last two characters may be "=", the
  // second-last only when the last is too.
  if (padding == 1 && length > 1 && text[length - 1] != '=') return nullptr;
  const size_t decoded = length / 4 * 3 - padding;

  auto* out = static_cast<unsigned char*>(malloc(decoded + 1));
  if (out == nullptr) return nullptr;
  size_t written = 0;
  for (size_t i = 0; i < length; i += 4) {
    uint32_t triple = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int8_t value = kDecoding[static_cast<unsigned char>(text[i + k])];
      const bool inPadding = i + k >= length - padding;
      if (value == kInvalid || (value == kPad) != inPadding) {
        free(out);
        return nullptr;
      }
      triple = (triple << 6) | static_cast<uint32_t>(value == kPad ? 0 : value);
    }
    for (int shift = 16; shift >= 0 && written < decoded; shift -= 8)
      out[written++] = static_cast<unsigned char>(triple >> shift);
  }
  out[decoded] = 0;
  *outLength = decoded;
  return reinterpret_cast<char*>(out);
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
