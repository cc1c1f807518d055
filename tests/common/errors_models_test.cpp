#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/aDefs.h"
#include "common/aError.h"

TEST(ErrorTable, NamesAndDescriptionsOfEveryCode) {
  struct Row {
    aErr code;
    const char* name;
    const char* description;
  };
  const Row rows[] = {
      {aErrNone, "aErrNone", "Success, no error"},
      {aErrParam, "aErrParam", "Invalid parameter"},
      {aErrNotReady, "aErrNotReady", "Not ready, no bytes available"},
      {aErrShortCommand, "aErrShortCommand", "Wrenfield command to short"},
      {aErrCancel, "aErrCancel", "Cancellation occurred, or did not complete"},
      {aErrStreamStale, "aErrStreamStale", "Stream value is stale"},
      {aErrUnknown, "aErrUnknown", "Unknown error"},
      {35, "aErrUnknown", "Unknown error"},
      {99, "aErrUnknown", "Unknown error"},
      {0xFFFFFFFFu, "aErrUnknown", "Unknown error"},
  };
  for (const Row& row : rows) {
    EXPECT_STREQ(aError_GetErrorText(row.code), row.name) << row.code;
    EXPECT_STREQ(aError_GetErrorDescription(row.code), row.description) << row.code;
  }
  // Every code has its own name, and the names are the enumeration's identifiers.
  std::set<std::string> names;
  for (aErr code = 0; code <= aErrUnknown; ++code) names.insert(aError_GetErrorText(code));
  EXPECT_EQ(names.size(), 35u);
}

TEST(ModelTable, KnownCodesAndUnknown) {
  EXPECT_STREQ(aDefs_GetModelName(1), "BridgeA");
  EXPECT_STREQ(aDefs_GetModelName(12), "RouterI2C");
  EXPECT_STREQ(aDefs_GetModelName(17), "ServoCtl");
  for (uint32_t code : {0u, 18u, 255u, 0x10001u}) EXPECT_STREQ(aDefs_GetModelName(code), "Unknown") << code;
}

TEST(ModelTable, NoNameIsAPrefixOfAnother) {
  for (uint32_t a = 1; a <= 17; ++a)
    for (uint32_t b = 1; b <= 17; ++b) {
      if (a == b) continue;
      const std::string first = aDefs_GetModelName(a);
      EXPECT_FALSE(std::string(aDefs_GetModelName(b)).starts_with(first)) << first;
    }
}
