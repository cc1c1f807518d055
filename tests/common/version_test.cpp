#include <gtest/gtest.h>

#include <string>

#include "common/aVersion.h"

TEST(VersionPack, LayoutsAndRoundTrip) {
  struct Case {
    uint8_t major, minor, patch;
    uint32_t packed;
    bool legacy;
    const char* text;
  };
  const Case cases[] = {
      {2, 11, 2, 0x2B000002, true, "2.11.2"},
      {1, 3, 200, 0x130000C8, true, "1.3.200"},
      {2, 15, 0, 0x2F020F00, false, "2.15.0"},
      {3, 1, 4, 0x2F030104, false, "3.1.4"},
      {2, 14, 255, 0x2E0000FF, true, "2.14.255"},
  };
  for (const Case& c : cases) {
    const uint32_t packed = aVersion_Pack(c.major, c.minor, c.patch);
    EXPECT_EQ(packed, c.packed) << c.text;
    EXPECT_EQ(aVersion_IsLegacyFormat(packed), c.legacy) << c.text;
    EXPECT_EQ(aVersion_ParseMajor(packed), c.major) << c.text;
    EXPECT_EQ(aVersion_ParseMinor(packed), c.minor) << c.text;
    EXPECT_EQ(aVersion_ParsePatch(packed), c.patch) << c.text;
    char buffer[32];
    EXPECT_EQ(aVersion_ParseString(packed, buffer, sizeof buffer), static_cast<int>(std::string(c.text).size()));
    EXPECT_STREQ(buffer, c.text);
  }
  // The legacy layout's patch keeps its upper bits when parsed.
  EXPECT_EQ(aVersion_ParsePatch(0x11012345), 0x012345u);
}

TEST(VersionCompare, Lexicographic) {
  struct Case {
    uint8_t have[3];
    uint8_t want[3];
    bool atLeast;
  };
  const Case cases[] = {
      {{2, 11, 2}, {2, 11, 2}, true},  {{2, 11, 2}, {2, 12, 0}, false}, {{3, 0, 0}, {2, 255, 255}, true},
      {{2, 11, 1}, {2, 11, 2}, false}, {{2, 12, 0}, {2, 11, 9}, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(aVersion_IsAtLeastCompare(c.have[0], c.have[1], c.have[2], c.want[0], c.want[1], c.want[2]), c.atLeast);
  EXPECT_TRUE(aVersion_IsAtLeast(2, 11, 2));
  EXPECT_FALSE(aVersion_IsAtLeast(2, 11, 3));
}

TEST(VersionLibrary, StringAndFeatures) {
  EXPECT_EQ(aVersion_GetMajor(), 2);
  EXPECT_EQ(aVersion_GetMinor(), 11);
  EXPECT_EQ(aVersion_GetPatch(), 2);
  EXPECT_STREQ(aVersion_GetString(), "2.11.2");
  EXPECT_EQ(aVersion_GetString(), aVersion_GetString());  // formatted once
  EXPECT_TRUE(aVersion_HasFeature("VERSION"));
  EXPECT_FALSE(aVersion_HasFeature("version"));
  EXPECT_FALSE(aVersion_HasFeature(nullptr));
  char* list = aVersion_GetFeatureList();
  EXPECT_STREQ(list, "VERSION - Version Query API");
  aVersion_DestroyFeatureList(&list);
  EXPECT_EQ(list, nullptr);
}
