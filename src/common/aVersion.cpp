#include "common/aVersion.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

const char* aVERSION_PHASE = ".";

const aVersionFeature FEATS[] = {{"VERSION", "Version Query API"}};
const size_t NUM_FEATS = sizeof FEATS / sizeof FEATS[0];

namespace {

constexpr int kMajor = 2;
constexpr int kMinor = 11;
constexpr int kPatch = 2;

// Versions below 2.15 use the legacy layout.
bool legacyNumbers(uint32_t major, uint32_t minor) { return major < 2 || (major == 2 && minor < 15); }

}  // namespace

int aVersion_GetMajor() { return kMajor; }
int aVersion_GetMinor() { return kMinor; }
int aVersion_GetPatch() { return kPatch; }

const char* aVersion_GetString() {
  static char text[15];
  static std::once_flag once;
  std::call_once(once, [] { snprintf(text, sizeof text, "%d.%d%s%d", kMajor, kMinor, aVERSION_PHASE, kPatch); });
  return text;
}

uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch) {
  if (!legacyNumbers(major, minor))
    return 0x2F000000u | static_cast<uint32_t>(major) << 16 | static_cast<uint32_t>(minor) << 8 | patch;
  return static_cast<uint32_t>(major) << 28 | static_cast<uint32_t>(minor & 0xF) << 24 | patch;
}

bool aVersion_IsLegacyFormat(uint32_t packed) { return legacyNumbers(packed >> 28, (packed >> 24) & 0xF); }

uint32_t aVersion_ParseMajor(uint32_t packed) {
  return aVersion_IsLegacyFormat(packed) ? packed >> 28 : (packed >> 16) & 0xFF;
}

uint32_t aVersion_ParseMinor(uint32_t packed) {
  return aVersion_IsLegacyFormat(packed) ? (packed >> 24) & 0xF : (packed >> 8) & 0xFF;
}

uint32_t aVersion_ParsePatch(uint32_t packed) {
  return aVersion_IsLegacyFormat(packed) ? packed & 0xFFFFFF : packed & 0xFF;
}

int aVersion_ParseString(uint32_t packed, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  return snprintf(buffer, size, "%d.%d.%d", static_cast<int>(aVersion_ParseMajor(packed) & 0xFF),
                  static_cast<int>(aVersion_ParseMinor(packed) & 0xFF), static_cast<int>(aVersion_ParsePatch(packed)));
}

bool aVersion_IsAtLeastCompare(uint8_t major, uint8_t minor, uint8_t patch, uint8_t wantMajor, uint8_t wantMinor,
                               uint8_t wantPatch) {
  if (major != wantMajor) return major > wantMajor;
  if (minor != wantMinor) return minor > wantMinor;
  return patch >= wantPatch;
}

bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch) {
  return aVersion_IsAtLeastCompare(kMajor, kMinor, kPatch, major, minor, patch);
}

bool aVersion_HasFeature(const char* name) {
  if (name == nullptr) return false;
  for (size_t i = 0; i < NUM_FEATS; ++i)
    if (strcmp(FEATS[i].name, name) == 0) return true;
  return false;
}

char* aVersion_GetFeatureList() {
  std::string text;
  for (size_t i = 0; i < NUM_FEATS; ++i) {
    if (i > 0) text += "\n";
    text += std::string(FEATS[i].name) + " - " + FEATS[i].description;
  }
  char* list = new char[text.size() + 1];
  memcpy(list, text.c_str(), text.size() + 1);
  return list;
}

void aVersion_DestroyFeatureList(char** list) {
  if (list == nullptr) return;
  delete[] *list;
  *list = nullptr;
}
