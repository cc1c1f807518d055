// Patching and searching the loaded firmware image in memory.
#include <algorithm>
#include <cstdio>

#include "app/Log.h"
#include "firmware/BirdFile.h"

namespace {

constexpr uint32_t kAddressSize = 4;
constexpr uint32_t kSerialWordSize = 4;
constexpr uint32_t kSerialDigits = 8;
constexpr uint32_t kDescriptorSize = 2 * kSerialDigits;  // UTF-16LE characters
constexpr uint32_t kVectorEntries = 8;
constexpr uint32_t kKeyStreamSize = 16;

// The image bytes of a firmware block: the block data after its address word.
struct Payload {
  uint32_t address = 0;
  unsigned char* bytes = nullptr;
  uint32_t size = 0;

  explicit Payload(const BirdBlock& block)
      : address(block.address),
        bytes(block.length >= kAddressSize ? block.data + kAddressSize : nullptr),
        size(block.length >= kAddressSize ? block.length - kAddressSize : 0) {}

  // The image bytes at `where`, when all `count` of them lie in this payload.
  unsigned char* at(uint32_t where, uint32_t count) const {
    if (where < address || static_cast<uint64_t>(where) + count > static_cast<uint64_t>(address) + size) return nullptr;
    return bytes + (where - address);
  }
};

// The module's processor is little-endian.
uint32_t _get_le(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[3]) << 24 | static_cast<uint32_t>(bytes[2]) << 16 |
         static_cast<uint32_t>(bytes[1]) << 8 | bytes[0];
}

void _put_le(unsigned char* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

bool BirdFile::ReplaceSerialNumber(unsigned int serial) {
  const std::vector<BirdBlock> firmware = FindBlocks(BLOCK_TYPE_FIRMWARE);
  if (firmware.empty() || (serialNumberOffset == 0 && descriptorOffset == 0)) return false;
  bool wordPatched = false;
  bool textPatched = false;
  for (const BirdBlock& block : firmware) {
    const Payload payload(block);
    if (serialNumberOffset != 0) {
      if (unsigned char* word = payload.at(serialNumberOffset, kSerialWordSize)) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: updating serial number from %08X ==> %08X\n", _get_le(word), serial);
        _put_le(word, serial);
        wordPatched = true;
      }
    }
    if (descriptorOffset != 0) {
      if (unsigned char* text = payload.at(descriptorOffset, kDescriptorSize)) {
        char digits[kSerialDigits + 1];
        snprintf(digits, sizeof digits, "%08X", serial);
        // Only the low byte of each UTF-16LE character changes.
        for (uint32_t i = 0; i < kSerialDigits; ++i) text[2 * i] = static_cast<unsigned char>(digits[i]);
        textPatched = true;
      }
    }
  }
  // A place that no firmware block covers would leave the image's own serial
  // number in the module: that is a failure, not a success.
  if (serialNumberOffset != 0 && !wordPatched)
    Log::log(DEBUG_BirdFile, "BIRDFILE: serial number word at %08X lies in no firmware block\n", serialNumberOffset);
  if (descriptorOffset != 0 && !textPatched)
    Log::log(DEBUG_BirdFile, "BIRDFILE: serial number descriptor at %08X lies in no firmware block\n",
             descriptorOffset);
  return (serialNumberOffset == 0 || wordPatched) && (descriptorOffset == 0 || textPatched);
}

bool BirdFile::ReplaceVectorChecksum() {
  for (const BirdBlock& block : FindBlocks(BLOCK_TYPE_FIRMWARE)) {
    const Payload payload(block);
    if (payload.address != 0 || payload.bytes == nullptr) continue;
    if (payload.size < kVectorEntries * 4) {
      Log::log(DEBUG_BirdFile, "BIRDFILE: image at address 0 of %u bytes holds no vector table; not patched\n",
               payload.size);
      continue;
    }
    uint32_t vectors[kVectorEntries];
    for (uint32_t i = 0; i < kVectorEntries; ++i) vectors[i] = _get_le(payload.bytes + 4 * i);
    // The boot ROM checks V0..V7 without V5 (which holds reserved data).
    const uint32_t sum = vectors[0] + vectors[1] + vectors[2] + vectors[3] + vectors[4] + vectors[6];
    const uint32_t checksum = 0u - sum;
    Log::log(DEBUG_BirdFile, "BIRDFILE: updating vector checksum from %08X ==> %08X\n", vectors[7], checksum);
    _put_le(payload.bytes + 28, checksum);
  }
  return true;
}

bool BirdFile::DecodeFirmwareBlocks(const unsigned int* key) {
  if (key == nullptr) return false;
  unsigned char stream[kKeyStreamSize];
  for (uint32_t word = 0; word < 4; ++word)
    for (uint32_t byte = 0; byte < 4; ++byte) stream[4 * word + byte] = static_cast<unsigned char>(key[word] >> (24 - 8 * byte));
  for (const BirdBlock& block : FindBlocks(BLOCK_TYPE_FIRMWARE)) {
    const Payload payload(block);
    unsigned char previous = 0;
    for (uint32_t i = 0; i < payload.size; ++i) {
      const unsigned char plain = payload.bytes[i] ^ stream[i % kKeyStreamSize] ^ previous;
      payload.bytes[i] = plain;
      previous = plain;
    }
  }
  return true;
}

// Every start position whose pattern fits in the block is tried, the last
// one included, and none when the pattern is longer than the block.
bool BirdFile::ValidateData(const unsigned char* pattern, unsigned int count) const {
  Log::log(DEBUG_BirdFile, "BIRDFILE: looking for data pattern in [%s]\n", path.c_str());
  bool found = false;
  if (pattern != nullptr && count > 0) {
    for (const BirdBlock& block : FindBlocks(BLOCK_TYPE_FIRMWARE)) {
      for (uint32_t i = 0; count <= block.length && i <= block.length - count; ++i) {
        if (std::equal(pattern, pattern + count, block.data + i)) {
          Log::log(DEBUG_BirdFile, "Found data at %u\n", i);
          found = true;
        }
      }
    }
  }
  Log::log(DEBUG_BirdFile, "\n");
  return found;
}
