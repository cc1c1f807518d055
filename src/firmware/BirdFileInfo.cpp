// The information block's fields and the block dump.
#include <cctype>
#include <climits>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/Log.h"
#include "firmware/BirdFile.h"

namespace {

enum InfoField : unsigned { kBuildField = 0, kVersionField = 1, kSerialField = 2, kModelField = 3 };

// strtoul on at most the given characters; numbers that do not fit 32 bits
// (or carry a minus sign) read as 0.
unsigned int _to_unsigned(const char* field, size_t length, int base) {
  char text[BirdFile::INFO_FIELD_SIZE + 1] = {};
  memcpy(text, field, std::min(length, BirdFile::INFO_FIELD_SIZE));
  const unsigned long value = strtoul(text, nullptr, base);
  return value > UINT_MAX ? 0 : static_cast<unsigned int>(value);
}

// The model field up to its first zero byte, trailing blanks removed.
std::string _model_name(const char* field) {
  std::string model(field);
  while (!model.empty() && model.back() == ' ') model.pop_back();
  return model;
}

}  // namespace

bool BirdFile::_info_field(unsigned index, char (&field)[INFO_FIELD_SIZE + 1]) const {
  memset(field, 0, sizeof field);
  for (const BirdBlock& block : blocks) {
    if (block.type != BLOCK_TYPE_INFO) continue;
    // Only the first information block counts; a short one reads as zeros
    // where its bytes end.
    const uint32_t start = index * INFO_FIELD_SIZE;
    if (start < block.length) memcpy(field, block.data + start, std::min<size_t>(INFO_FIELD_SIZE, block.length - start));
    return true;
  }
  return false;
}

unsigned int BirdFile::GetBuild() const {
  char field[INFO_FIELD_SIZE + 1];
  return _info_field(kBuildField, field) ? _to_unsigned(field, INFO_FIELD_SIZE - 1, 10) : 0;
}

unsigned int BirdFile::GetSerialNumber() const {
  char field[INFO_FIELD_SIZE + 1];
  return _info_field(kSerialField, field) ? _to_unsigned(field, 8, 16) : 0;
}

std::string BirdFile::GetVersion() const {
  char field[INFO_FIELD_SIZE + 1];
  if (!_info_field(kVersionField, field)) return std::string();
  size_t length = 0;
  while (length < INFO_FIELD_SIZE - 1 && field[length] != ' ' && field[length] != '\0') ++length;
  return std::string(field, length);
}

std::string BirdFile::GetModel() const {
  char field[INFO_FIELD_SIZE + 1];
  return _info_field(kModelField, field) ? _model_name(field) : std::string();
}

bool BirdFile::ValidateModel(const char* model) const {
  char field[INFO_FIELD_SIZE + 1];
  if (model == nullptr || !_info_field(kModelField, field)) return false;
  const std::string name = _model_name(field);
  // A name longer than the 16-character field can never match.
  const size_t length = strlen(model);
  if (length > name.size() || name.compare(0, length, model) != 0) return false;
  Log::log(DEBUG_BirdFile, "Model matches model number ([%s] == [%s])\n", name.c_str(), model);
  return true;
}

bool BirdFile::DumpBlocks(BLOCK_TYPE type) const {
  printf("BIRDFILE: BLOCK DUMP [%s]\n", path.c_str());
  for (const BirdBlock& block : FindBlocks(type)) {
    std::string text;
    for (uint32_t i = 0; i < block.length; ++i) {
      if (i % 50 == 0) {
        printf(" %s\r\n%06u: ", text.c_str(), i);
        text.clear();
      }
      const unsigned char byte = block.data[i];
      printf("%02X ", byte);
      text += isprint(byte) ? static_cast<char>(byte) : ' ';
    }
    printf(" %s\n", text.c_str());
  }
  printf("\n");
  return true;
}
