// Builds bird files byte by byte, including malformed ones, for the tests.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace birdtest {

using Bytes = std::vector<uint8_t>;

inline void putInt(Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

inline Bytes field16(const std::string& text, char fill = ' ') {
  Bytes out(text.begin(), text.end());
  out.resize(16, static_cast<uint8_t>(fill));
  return out;
}

class Body {
 public:
  Body& block(uint8_t typeAndFlags, const Bytes& data) {
    return rawBlock(typeAndFlags, static_cast<uint32_t>(data.size()), data);
  }
  // A block whose length field may disagree with the data that follows.
  Body& rawBlock(uint8_t typeAndFlags, uint32_t length, const Bytes& data) {
    bytes.push_back(typeAndFlags);
    putInt(bytes, length);
    bytes.insert(bytes.end(), data.begin(), data.end());
    ++count;
    return *this;
  }
  Body& image(uint8_t type, uint32_t address, const Bytes& payload, uint8_t flags = 0) {
    Bytes data;
    putInt(data, address);
    data.insert(data.end(), payload.begin(), payload.end());
    return block(static_cast<uint8_t>(type | flags << 5), data);
  }
  Body& firmware(uint32_t address, const Bytes& payload, uint8_t flags = 0) { return image(1, address, payload, flags); }
  Body& loader(uint32_t address, const Bytes& payload) { return image(0, address, payload); }
  Body& serial(uint32_t word, uint32_t descriptor) {
    Bytes data;
    putInt(data, word);
    putInt(data, descriptor);
    return block(2, data);
  }
  Body& info(const std::string& build, const std::string& version, const std::string& serialText,
             const std::string& model) {
    Bytes data;
    for (const std::string* text : {&build, &version, &serialText, &model}) {
      const Bytes f = field16(*text);
      data.insert(data.end(), f.begin(), f.end());
    }
    return block(4, data);
  }
  // Count word, blocks, checksum (the sum of the bytes before it).
  Bytes finish(std::optional<uint32_t> declared = std::nullopt, bool withChecksum = true) const {
    Bytes out;
    putInt(out, declared.value_or(count));
    out.insert(out.end(), bytes.begin(), bytes.end());
    uint32_t sum = 0;
    for (uint8_t b : out) sum += b;
    if (withChecksum) putInt(out, sum);
    return out;
  }

 private:
  Bytes bytes;
  uint32_t count = 0;
};

inline Bytes compress(const Bytes& body) {
  uLongf size = compressBound(body.size());
  Bytes out(size);
  ::compress2(out.data(), &size, body.data(), body.size(), 9);
  out.resize(size);
  return out;
}

inline Bytes file(const Bytes& body, uint8_t v0 = 1, uint8_t v1 = 1) {
  Bytes out{'b', 'i', 'r', 'd', v0, v1};
  const Bytes packed = compress(body);
  out.insert(out.end(), packed.begin(), packed.end());
  return out;
}

inline void write(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

}  // namespace birdtest
