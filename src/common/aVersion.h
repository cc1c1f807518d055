// The library's own version, and the packed version words that modules report.
#pragma once

#include <cstddef>
#include <cstdint>

extern const char* aVERSION_PHASE;

struct aVersionFeature {
  const char* name;
  const char* description;
};
extern const aVersionFeature FEATS[];
extern const size_t NUM_FEATS;

int aVersion_GetMajor();
int aVersion_GetMinor();
int aVersion_GetPatch();
const char* aVersion_GetString();

uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch);
bool aVersion_IsLegacyFormat(uint32_t packed);
uint32_t aVersion_ParseMajor(uint32_t packed);
uint32_t aVersion_ParseMinor(uint32_t packed);
uint32_t aVersion_ParsePatch(uint32_t packed);
// "%d.%d.%d"; returns what snprintf returns.
int aVersion_ParseString(uint32_t packed, char* buffer, size_t size);

bool aVersion_IsAtLeastCompare(uint8_t major, uint8_t minor, uint8_t patch, uint8_t wantMajor, uint8_t wantMinor,
                               uint8_t wantPatch);
// Whether this library is at least the given version.
bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch);

bool aVersion_HasFeature(const char* name);
// One "NAME - description" line per feature, joined by "\n"; free with aVersion_DestroyFeatureList.
char* aVersion_GetFeatureList();
void aVersion_DestroyFeatureList(char** list);
