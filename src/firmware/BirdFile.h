// A bird file: one firmware release for a module. The file is a 6-byte
// header ("bird" and a 16-bit format version) followed by one zlib stream;
// the inflated body holds a block count, the blocks (type/flags byte,
// 32-bit length, data) and a 32-bit checksum, all big-endian.
//
// BirdFile loads and splits such a file and patches the in-memory image
// (serial number, vector checksum, descrambling). It never writes files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One block of a loaded body. `data` points into the body owned by the
// BirdFile that produced it and lives as long as that body.
struct BirdBlock {
  uint8_t type = 0;
  uint8_t flags = 0;  // the three flag bits, moved down to bits 0-2
  uint32_t length = 0;  // length of the block data
  uint32_t address = 0;  // load address (loader and firmware blocks), else 0
  unsigned char* data = nullptr;
};

class BirdFile {
 public:
  enum BLOCK_TYPE : uint8_t {
    BLOCK_TYPE_LOADER = 0,
    BLOCK_TYPE_FIRMWARE = 1,
    BLOCK_TYPE_SERIAL = 2,
    BLOCK_TYPE_INFO = 4,
    BLOCK_TYPE_START = 5,
  };
  static constexpr uint32_t BIRD_FILE_SIGNATURE = 0x62697264;  // "bird"
  static constexpr uint16_t BIRD_FILE_VERSION = 0x0101;
  static constexpr uint8_t BIRD_FILE_TYPE_MASK = 0x1F;
  static constexpr uint8_t BIRD_FILE_FLAG_MASK = 0xE0;
  static constexpr size_t HEADER_SIZE = 6;
  static constexpr size_t INFO_FIELD_SIZE = 16;
  // The largest compression ratio a bird file may have.
  static constexpr size_t MAX_COMPRESSION_RATIO = 8;

  BirdFile() = default;
  // Loads the file; throws std::runtime_error("Failed to load bird data")
  // when Load fails.
  explicit BirdFile(const char* path);
  BirdFile(BirdFile&&) noexcept = default;
  BirdFile& operator=(BirdFile&&) noexcept = default;
  BirdFile(const BirdFile&) = delete;
  BirdFile& operator=(const BirdFile&) = delete;

  // The file's big-endian readers.
  static uint32_t GetInt(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  }
  static uint16_t GetShort(const unsigned char* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }

  // Header check without loading: "bird" and two non-zero version bytes.
  static bool VerifyFile(const char* path);

  // Reads, inflates and scans `path`. False for a missing, unreadable or
  // short file, a body that does not inflate within the 8x bound, or a body
  // whose blocks run past its end (a truncated file). Count and trailing-size
  // mismatches are only logged.
  bool Load();
  // Inflates into a new owned body of at most 8 x `len` bytes.
  bool DecompressData(const unsigned char* compressed, unsigned long len);
  // Fills the block list from a body (blocks point into it). True when the
  // body adds up: blocks, checksum, nothing left, block count as declared.
  bool ScanBlocks(const unsigned char* body, unsigned int size);
  std::vector<BirdBlock> FindBlocks(BLOCK_TYPE type) const;
  bool FindSerialNumberOffsets();

  // Patches the serial number into the firmware blocks: the 32-bit word
  // (little-endian) and the 8 hex digits of the USB descriptor text. True
  // only when every place the file names was patched.
  bool ReplaceSerialNumber(unsigned int serial);
  // Stores in V7 of the vector table at address 0 the value that makes
  // V0..V4, V6 and V7 sum to 0.
  bool ReplaceVectorChecksum();
  // Descrambles the firmware payloads with the processor's four-word key.
  bool DecodeFirmwareBlocks(const unsigned int* key);
  // True when some firmware block's data holds `pattern`.
  bool ValidateData(const unsigned char* pattern, unsigned int count) const;
  // True when the information block's model name begins with `model`.
  bool ValidateModel(const char* model) const;

  unsigned int GetSerialNumber() const;
  unsigned int GetBuild() const;
  std::string GetVersion() const;
  // The information block's model field, trailing blanks removed.
  std::string GetModel() const;
  bool ValidateSerialNumber(unsigned int serial) const { return serial == GetSerialNumber(); }

  // Hex dump of every block of `type` to standard output.
  bool DumpBlocks(BLOCK_TYPE type) const;

  const std::string& Path() const { return path; }
  uint32_t Signature() const { return signature; }
  uint32_t Version() const { return version; }
  uint32_t FileChecksum() const { return fileChecksum; }
  uint32_t BlockCount() const { return blockCount; }
  // The count the body declares; 0 when there is none.
  uint32_t DeclaredBlockCount() const { return declaredBlockCount; }
  const std::vector<BirdBlock>& Blocks() const { return blocks; }
  bool HasSerialNumberBlock() const { return hasSerialNumberBlock; }
  uint32_t SerialNumberOffset() const { return serialNumberOffset; }
  uint32_t DescriptorOffset() const { return descriptorOffset; }
  const unsigned char* Data() const { return data.get(); }
  uint32_t DataSize() const { return dataSize; }
  // True when the last scan found the body adding up exactly.
  bool ScanWasClean() const { return scanClean; }
  // 32-bit sum of the body bytes before the checksum word (0 before a scan
  // reached it); a writer stores this as the checksum.
  uint32_t ComputedChecksum() const { return computedChecksum; }

 private:
  enum class ScanResult { Clean, Mismatch, Truncated };
  ScanResult _scan(const unsigned char* body, uint32_t size);
  void _reset();
  // The first information block's field `index` (0 build, 1 version,
  // 2 serial, 3 model) as 16 characters; a short block reads as blanks.
  bool _info_field(unsigned index, char (&field)[INFO_FIELD_SIZE + 1]) const;

  std::string path;
  uint32_t signature = 0;
  uint32_t version = 0;
  uint32_t fileChecksum = 0;
  uint32_t computedChecksum = 0;
  uint32_t blockCount = 0;
  uint32_t declaredBlockCount = 0;
  std::vector<BirdBlock> blocks;
  bool hasSerialNumberBlock = false;
  bool scanClean = false;
  uint32_t serialNumberOffset = 0;
  uint32_t descriptorOffset = 0;
  std::unique_ptr<unsigned char[]> data;
  uint32_t dataSize = 0;
};
