#include "server/base64.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace {

struct FreeDeleter {
  void operator()(char* p) const { free(p); }
};
using Buffer = std::unique_ptr<char, FreeDeleter>;

// Both decoders, which must agree on every text.
std::optional<std::string> decode(const std::string& text) {
  size_t length = 12345;
  Buffer out(base64_decode(text.data(), text.size(), &length));
  std::string inPlace = text;
  const bool decodedInPlace = base64_decode_in_place(inPlace);
  EXPECT_EQ(decodedInPlace, out != nullptr) << text;
  if (!out) return std::nullopt;
  EXPECT_EQ(out.get()[length], '\0') << "decoded bytes are followed by a zero byte";
  const std::string bytes(out.get(), length);
  EXPECT_EQ(inPlace, bytes) << text;
  return bytes;
}

std::string encode(const std::string& bytes) {
  size_t length = 0;
  Buffer out(base64_encode(bytes.data(), bytes.size(), &length));
  EXPECT_NE(out, nullptr);
  EXPECT_EQ(length, (bytes.size() + 2) / 3 * 4);
  return std::string(out.get(), length);
}

TEST(Base64, DecodesTextOfTheAlphabet) {
  const struct {
    const char* text;
    std::string bytes;
  } cases[] = {
      {"QUJD", "ABC"},
      {"QQ==", "A"},
      {"QUI=", "AB"},
      {"", ""},
      {"TWFueSBoYW5kcw==", "Many hands"},
      {"AP8A", std::string("\0\xff\0", 3)},
      {"+/+/", "\xfb\xff\xbf"},
  };
  for (const auto& c : cases) EXPECT_EQ(decode(c.text), c.bytes) << c.text;
}

TEST(Base64, RefusesTextThatIsNotBase64) {
  const char* cases[] = {
      "QUJDR",      // length not a multiple of 4
      "QUJD\r",     // the carriage return a server may leave on the line
      "QUJD\r\n\r\n",
      "QU!D",       // outside the alphabet
      "QU D",
      "QUJ\xc3",
      "Q===",       // more padding than a group can have
      "QQ=A",       // padding before data
      "QQ==QUJD",   // padding in the middle
      "=QUJ",
  };
  for (const char* text : cases) EXPECT_EQ(decode(text), std::nullopt) << text;
}

TEST(Base64, EncodesWithPaddingAndDecodesBack) {
  EXPECT_EQ(encode("Man"), "TWFu");
  EXPECT_EQ(encode("Ma"), "TWE=");
  EXPECT_EQ(encode("M"), "TQ==");
  EXPECT_EQ(encode(""), "");
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (size_t cut = 0; cut < 6; ++cut) {
    const std::string bytes = all.substr(cut);
    EXPECT_EQ(decode(encode(bytes)), bytes) << "length " << bytes.size();
  }
}

}  // namespace
