#include "BirdReport.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

#include "app/Log.h"
#include "firmware/BirdFile.h"

namespace birdtool {

namespace {

// Collects the bird file's diagnostic log, so a refusal can name its reason;
// with `verbose` the whole log goes to standard error as well.
class LogCollector {
 public:
  explicit LogCollector(bool verbose) : verbose_(verbose) {
    stream_ = open_memstream(&buffer_, &size_);
    Log::SetOutput(stream_);
    Log::ActivatePackage(DEBUG_BirdFile);
  }
  ~LogCollector() {
    Log::SetOutput(nullptr);
    fclose(stream_);
    if (verbose_ && size_ > 0) fwrite(buffer_, 1, size_, stderr);
    free(buffer_);
  }
  LogCollector(const LogCollector&) = delete;
  LogCollector& operator=(const LogCollector&) = delete;

  // The last line that reports an error or a refusal.
  std::string reason() {
    fflush(stream_);
    const std::string text(buffer_, size_);
    std::string found;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = text.substr(start, end - start);
      if (line.find("Error") != std::string::npos || line.find("refusing") != std::string::npos ||
          line.find("not found") != std::string::npos)
        found = line;
    }
    return found;
  }

 private:
  bool verbose_;
  FILE* stream_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
};

const char* typeName(uint8_t type) {
  switch (type) {
    case BirdFile::BLOCK_TYPE_LOADER: return "loader";
    case BirdFile::BLOCK_TYPE_FIRMWARE: return "firmware";
    case BirdFile::BLOCK_TYPE_SERIAL: return "serial";
    case BirdFile::BLOCK_TYPE_INFO: return "info";
    case BirdFile::BLOCK_TYPE_START: return "start";
    default: return "other";
  }
}

void printHeader(const std::string& path, std::vector<std::string>& problems) {
  printf("File:            %s\n", path.c_str());
  unsigned char header[BirdFile::HEADER_SIZE] = {};
  FILE* file = fopen(path.c_str(), "rb");
  const size_t got = file != nullptr ? fread(header, 1, sizeof header, file) : 0;
  if (file != nullptr) fclose(file);
  if (got == sizeof header)
    printf("Signature:       %08X%s\nFormat version:  0x%04X\n", BirdFile::GetInt(header),
           BirdFile::GetInt(header) == BirdFile::BIRD_FILE_SIGNATURE ? " (bird)" : "", BirdFile::GetShort(header + 4));
  const bool valid = BirdFile::VerifyFile(path.c_str());
  printf("Header:          %s\n", valid ? "valid" : "invalid");
  if (!valid) problems.push_back("invalid header");
}

void printBlocks(const BirdFile& bird, size_t fileSize, std::vector<std::string>& problems) {
  const size_t compressed = fileSize > BirdFile::HEADER_SIZE ? fileSize - BirdFile::HEADER_SIZE : 0;
  printf("Body:            %u bytes inflated from %zu\n", bird.DataSize(), compressed);
  printf("Blocks:          %u found, %u declared\n", bird.BlockCount(), bird.DeclaredBlockCount());
  if (bird.BlockCount() != bird.DeclaredBlockCount()) problems.push_back("block count mismatch");
  printf("  #  type      flags  length      address\n");
  for (size_t i = 0; i < bird.Blocks().size(); ++i) {
    const BirdBlock& block = bird.Blocks()[i];
    printf("  %-2zu %-9s %-6u %-11u 0x%08X\n", i, typeName(block.type), block.flags, block.length, block.address);
  }
  const bool matches = bird.FileChecksum() == bird.ComputedChecksum();
  printf("Checksum:        0x%08X (%s, computed 0x%08X)\n", bird.FileChecksum(), matches ? "matches" : "mismatch",
         bird.ComputedChecksum());
  if (!matches) problems.push_back("checksum mismatch");
}

void printInformation(const BirdFile& bird) {
  if (bird.FindBlocks(BirdFile::BLOCK_TYPE_INFO).empty()) {
    printf("Information:     none\n");
  } else {
    printf("Build:           %u\n", bird.GetBuild());
    printf("Version:         %s\n", bird.GetVersion().c_str());
    printf("Serial number:   %08X\n", bird.GetSerialNumber());
    printf("Model:           %s\n", bird.GetModel().c_str());
  }
  if (bird.HasSerialNumberBlock())
    printf("Serial places:   word 0x%08X, descriptor 0x%08X\n", bird.SerialNumberOffset(), bird.DescriptorOffset());
  const auto start = bird.FindBlocks(BirdFile::BLOCK_TYPE_START);
  if (!start.empty() && start[0].length >= 4) printf("Start address:   0x%08X\n", BirdFile::GetInt(start[0].data));
}

size_t fileSize(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  fseek(file, 0, SEEK_END);
  const long size = ftell(file);
  fclose(file);
  return size > 0 ? static_cast<size_t>(size) : 0;
}

// Loads the file as the updater does; empty (and the reason) when it does not.
std::optional<BirdFile> load(const std::string& path, bool verbose, std::string& reason) {
  LogCollector log(verbose);
  try {
    return BirdFile(path.c_str());
  } catch (const std::runtime_error& error) {
    reason = log.reason();
    if (reason.empty()) reason = error.what();
    return std::nullopt;
  }
}

}  // namespace

int Report(const std::string& path, bool strict, bool verbose) {
  std::vector<std::string> problems;
  printHeader(path, problems);
  std::string reason;
  const std::optional<BirdFile> bird = load(path, verbose, reason);
  if (bird) {
    printBlocks(*bird, fileSize(path), problems);
    printInformation(*bird);
    printf("Loads:           yes\n");
  } else {
    printf("Loads:           no (%s)\n", reason.c_str());
    problems.push_back("does not load");
  }
  if (!strict) return bird ? 0 : 1;
  std::string verdict = problems.empty() ? "good" : "bad:";
  for (const std::string& problem : problems) verdict += " " + problem + (&problem != &problems.back() ? "," : "");
  printf("Verdict:         %s\n", verdict.c_str());
  return problems.empty() ? 0 : 1;
}

int Dump(const std::string& path, int onlyType, bool verbose) {
  std::string reason;
  const std::optional<BirdFile> bird = load(path, verbose, reason);
  if (!bird) {
    fprintf(stderr, "birdtool: %s does not load (%s)\n", path.c_str(), reason.c_str());
    return 1;
  }
  std::set<uint8_t> shown;
  for (const BirdBlock& block : bird->Blocks()) {
    if ((onlyType >= 0 && block.type != onlyType) || !shown.insert(block.type).second) continue;
    printf("Blocks of type %u (%s):\n", block.type, typeName(block.type));
    bird->DumpBlocks(static_cast<BirdFile::BLOCK_TYPE>(block.type));
  }
  return 0;
}

}  // namespace birdtool
