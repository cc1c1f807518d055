// Loading a bird file: read, inflate, split into blocks.
#include "firmware/BirdFile.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "app/Log.h"
#include "common/aFile.h"

namespace {

constexpr size_t kBlockHeaderSize = 5;  // type/flags byte and 32-bit length
constexpr size_t kAddressSize = 4;
constexpr size_t kChecksumSize = 4;
constexpr size_t kSerialBlockSize = 8;
// The 8x inflate bound must fit the 32-bit body size.
constexpr size_t kMaxCompressedSize = UINT32_MAX / BirdFile::MAX_COMPRESSION_RATIO;

void _log_info_fields(const BirdBlock& block) {
  for (uint32_t field = 0; field < 4; ++field) {
    char text[BirdFile::INFO_FIELD_SIZE + 1] = {};
    const uint32_t start = field * BirdFile::INFO_FIELD_SIZE;
    if (start < block.length)
      memcpy(text, block.data + start, std::min<size_t>(BirdFile::INFO_FIELD_SIZE, block.length - start));
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t \t[%16.16s]\n", text);
  }
}

// Reads the whole file; false (logged) when it cannot.
bool _read_file(const std::string& path, std::vector<unsigned char>& contents) {
  aFileRef file = aFile_Open(path.c_str(), aFileModeReadOnly);
  if (file == nullptr) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", path.c_str());
    return false;
  }
  size_t size = 0;
  bool result = false;
  aErr error = aFile_GetSize(file, &size);
  if (error != aErrNone) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%u) getting bird file size from %s\n", error, path.c_str());
  } else if (size > kMaxCompressedSize + BirdFile::HEADER_SIZE) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error - bird file %s is too large (%zu bytes)\n", path.c_str(), size);
  } else {
    contents.resize(size);
    size_t got = 0;
    error = aFile_Read(file, contents.data(), size, &got);
    if (error != aErrNone)
      Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%u) reading %s\n", error, path.c_str());
    else if (got < size)
      Log::log(DEBUG_BirdFile, "BIRDFILE: Error reading %s read %zu bytes of %zu byte file\n", path.c_str(), got, size);
    else
      result = true;
  }
  aFile_Close(&file);
  return result;
}

}  // namespace

BirdFile::BirdFile(const char* filePath) : path(filePath != nullptr ? filePath : "") {
  if (!Load()) throw std::runtime_error("Failed to load bird data");
}

bool BirdFile::VerifyFile(const char* filePath) {
  aFileRef file = aFile_Open(filePath, aFileModeReadOnly);
  if (file == nullptr) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", filePath != nullptr ? filePath : "");
    return false;
  }
  unsigned char header[HEADER_SIZE];
  size_t got = 0;
  const bool read = aFile_Read(file, header, sizeof header, &got) == aErrNone && got == sizeof header;
  aFile_Close(&file);
  return read && GetInt(header) == BIRD_FILE_SIGNATURE && header[4] != 0 && header[5] != 0;
}

void BirdFile::_reset() {
  signature = version = fileChecksum = computedChecksum = 0;
  blockCount = declaredBlockCount = 0;
  blocks.clear();
  hasSerialNumberBlock = scanClean = false;
  serialNumberOffset = descriptorOffset = 0;
  data.reset();
  dataSize = 0;
}

bool BirdFile::Load() {
  _reset();
  Log::log(DEBUG_BirdFile, "BIRDFILE: Loading File [%s]\n", path.c_str());
  if (!aFile_Exists(path.c_str())) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: BIRD file not found [%s]\n", path.c_str());
    return false;
  }
  std::vector<unsigned char> contents;
  try {
    if (!_read_file(path, contents)) return false;
  } catch (const std::bad_alloc&) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error - no memory to read %s\n", path.c_str());
    return false;
  }

  // A file of the header alone (or less) has no body: inflating nothing
  // fails with zlib's own error.
  const bool hasBody = contents.size() > HEADER_SIZE;
  if (hasBody) {
    signature = GetInt(contents.data());
    version = GetShort(contents.data() + 4);
  }
  if (!DecompressData(contents.data() + (hasBody ? HEADER_SIZE : 0), hasBody ? contents.size() - HEADER_SIZE : 0))
    return false;
  const ScanResult scan = _scan(data.get(), dataSize);
  FindSerialNumberOffsets();
  hasSerialNumberBlock = !FindBlocks(BLOCK_TYPE_SERIAL).empty();
  // A block that runs past the body means a cut-off file: its blocks must
  // not reach a module. Count mismatches are only logged.
  return scan != ScanResult::Truncated;
}

bool BirdFile::DecompressData(const unsigned char* compressed, unsigned long len) {
  data.reset();
  dataSize = 0;
  if (len > kMaxCompressedSize) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", Z_MEM_ERROR);
    return false;
  }
  const unsigned long capacity = len * MAX_COMPRESSION_RATIO;
  // One byte at least, so zlib always has a real output buffer.
  data.reset(new (std::nothrow) unsigned char[capacity > 0 ? capacity : 1]);
  if (!data) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", Z_MEM_ERROR);
    return false;
  }
  uLongf inflated = capacity;
  const int result = uncompress(data.get(), &inflated, compressed, len);
  if (result != Z_OK) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", result);
    data.reset();
    return false;
  }
  dataSize = static_cast<uint32_t>(inflated);
  return true;
}

bool BirdFile::ScanBlocks(const unsigned char* body, unsigned int size) {
  return _scan(body, size) == ScanResult::Clean;
}

BirdFile::ScanResult BirdFile::_scan(const unsigned char* body, uint32_t size) {
  blocks.clear();
  blockCount = declaredBlockCount = 0;
  fileChecksum = computedChecksum = 0;
  scanClean = false;
  if (body == nullptr || size < 4) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Body of %u bytes is too short for a block count; no blocks read\n", size);
    return ScanResult::Truncated;
  }
  declaredBlockCount = GetInt(body);
  Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File reports %u blocks\n", declaredBlockCount);
  Log::log(DEBUG_BirdFile, "BIRDFILE: Bird file objects:\n");
  Log::log(DEBUG_BirdFile, "BIRDFILE: \t\tType Flags Length\n");

  size_t position = 4;
  while (size - position > kChecksumSize) {
    BirdBlock block;
    block.type = body[position] & BIRD_FILE_TYPE_MASK;
    block.flags = static_cast<uint8_t>((body[position] & BIRD_FILE_FLAG_MASK) >> 5);
    block.length = GetInt(body + position + 1);
    const size_t available = size - position - kBlockHeaderSize;
    if (block.length > available) {
      Log::log(DEBUG_BirdFile,
               "BIRDFILE: Block %u (type %02X) claims %u bytes where %zu remain; the file is cut off, "
               "refusing it\n",
               blockCount, block.type, block.length, available);
      return ScanResult::Truncated;
    }
    block.data = const_cast<unsigned char*>(body + position + kBlockHeaderSize);
    if (block.type == BLOCK_TYPE_LOADER || block.type == BLOCK_TYPE_FIRMWARE) {
      if (block.length >= kAddressSize)
        block.address = GetInt(block.data);
      else
        Log::log(DEBUG_BirdFile, "BIRDFILE: Block %u (type %02X) of %u bytes has no address; it carries no image\n",
                 blockCount, block.type, block.length);
    }
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t %02X   %02X   %u\n", block.type, block.flags, block.length);
    if (block.type == BLOCK_TYPE_INFO) _log_info_fields(block);
    blocks.push_back(block);
    ++blockCount;
    position += kBlockHeaderSize + block.length;
  }

  if (size - position < kChecksumSize) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Body ends before its checksum (%zu bytes remaining); the file is cut off, "
             "refusing it\n", size - position);
    return ScanResult::Truncated;
  }
  for (size_t i = 0; i < position; ++i) computedChecksum += body[i];
  fileChecksum = GetInt(body + position);
  Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File checksum %08X\n", fileChecksum);

  if (blockCount != declaredBlockCount) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Block parsing mismatch in number of blocks. (%u != %u)\n", blockCount,
             declaredBlockCount);
    return ScanResult::Mismatch;
  }
  scanClean = true;
  return ScanResult::Clean;
}

std::vector<BirdBlock> BirdFile::FindBlocks(BLOCK_TYPE type) const {
  std::vector<BirdBlock> found;
  for (const BirdBlock& block : blocks)
    if (block.type == type) found.push_back(block);
  return found;
}

bool BirdFile::FindSerialNumberOffsets() {
  if (blockCount == 0) return false;
  for (const BirdBlock& block : blocks) {
    if (block.type != BLOCK_TYPE_SERIAL) continue;
    // Only the first serial block counts, even a short one.
    if (block.length < kSerialBlockSize) {
      Log::log(DEBUG_BirdFile, "BIRDFILE: Serial number block of %u bytes names no places; ignoring it\n",
               block.length);
      return false;
    }
    serialNumberOffset = GetInt(block.data);
    descriptorOffset = GetInt(block.data + 4);
    Log::log(DEBUG_BirdFile, "BIRDFILE: Offsets: Serial number: %u, Descriptor: %u\n", serialNumberOffset,
             descriptorOffset);
    return true;
  }
  return false;
}
