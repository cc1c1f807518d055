#include "store/KeyValueStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "store/ReplaceFile.h"
#include "support/process.h"

namespace {

using Entries = std::map<std::string, std::string>;

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    result.push_back(text.substr(start, end - start));
  return result;
}

// "Wed Dec  9 18:48:18 2026": English names, blank-padded day, no line feed.
bool isTimeStamp(const std::string& text) {
  const std::string days = "SunMonTueWedThuFriSat";
  const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  auto listed = [](const std::string& list, const std::string& word) {
    for (size_t i = 0; i < list.size(); i += 3)
      if (list.compare(i, 3, word) == 0) return true;
    return false;
  };
  auto digits = [&](size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i)
      if (!isdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
  };
  return text.size() == 24 && listed(days, text.substr(0, 3)) && text[3] == ' ' && listed(months, text.substr(4, 3)) &&
         text[7] == ' ' && (text[8] == ' ' || digits(8, 1)) && text[8] != '0' && digits(9, 1) && text[10] == ' ' &&
         digits(11, 2) && text[13] == ':' && digits(14, 2) && text[16] == ':' && digits(17, 2) && text[19] == ' ' &&
         digits(20, 4);
}

// "KEY=" followed by a time stamp.
bool isStampLine(const std::string& line, const std::string& key) {
  return line.compare(0, key.size() + 1, key + "=") == 0 && isTimeStamp(line.substr(key.size() + 1));
}

TEST(KeyValueStore, TimeStampHasTheFixedCtimeLayout) {
  const std::string stamp = KeyValueStore::TimeStamp();
  EXPECT_EQ(stamp.size(), 24u);
  EXPECT_TRUE(isTimeStamp(stamp)) << stamp;
}

TEST(KeyValueStore, LoadingAMissingFileCreatesItWithBothTimeStamps) {
  wftest::TempDir dir;
  const std::string path = dir / ".settings";
  KeyValueStore store(path.c_str());
  EXPECT_FALSE(store.IsChanged());
  EXPECT_EQ(store.FileName(), path);

  const auto written = lines(wftest::readFile(path));
  ASSERT_EQ(written.size(), 2u);
  ASSERT_TRUE(isStampLine(written[0], "CREATED_TIME")) << written[0];
  ASSERT_TRUE(isStampLine(written[1], "UPDATED_TIME")) << written[1];
  EXPECT_EQ(written[0].substr(13), written[1].substr(13));
  EXPECT_EQ(store.GetString("CREATED_TIME", nullptr), written[0].substr(13));
}

TEST(KeyValueStore, LoadParsesLinesAsAttributeFilesWriteThem) {
  struct Case {
    const char* name;
    std::string text;
    Entries expected;
  };
  const Case cases[] = {
      {"blanks trimmed", "  KEY  =  some value  \n", {{"KEY", "some value"}}},
      {"carriage return dropped", "KEY=value\r\n", {{"KEY", "value"}}},
      {"comment skipped", "#KEY=value\n", {}},
      {"blank before hash is a key", " #KEY=value\n", {{"#KEY", "value"}}},
      {"one-letter key, empty value", "K=\n", {{"K", ""}}},
      {"lone equals and empty lines skipped", "=\n\n\nA=1\n", {{"A", "1"}}},
      {"value keeps later equals", "URL=a=b=c\n", {{"URL", "a=b=c"}}},
      {"later line wins", "A=1\nA=2\n", {{"A", "2"}}},
      {"last line without line end", "A=1\nB=2", {{"A", "1"}, {"B", "2"}}},
      {"line without equals is a bare key", "BARE\n", {{"BARE", ""}}},
      {"blank key skipped", " = x\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    wftest::TempDir dir;
    writeText(dir / "attrs", c.text);
    KeyValueStore store((dir / "attrs").c_str());
    EXPECT_EQ(store.Entries(), c.expected);
    EXPECT_FALSE(store.IsChanged());
  }
}

TEST(KeyValueStore, ALineTooLongForTheBufferEndsLoading) {
  wftest::TempDir dir;
  writeText(dir / "attrs", "A=1\nLONG=" + std::string(3000, 'x') + "\nB=2\n");
  KeyValueStore store((dir / "attrs").c_str());
  EXPECT_EQ(store.Entries(), (Entries{{"A", "1"}}));
}

TEST(KeyValueStore, LoadMergesIntoWhatTheStoreHolds) {
  wftest::TempDir dir;
  writeText(dir / "attrs", "B=file\n");
  KeyValueStore store;
  store.Add("A", "memory");
  store.Add("B", "memory");
  store.Load((dir / "attrs").c_str());
  EXPECT_EQ(store.Entries(), (Entries{{"A", "memory"}, {"B", "file"}}));
  EXPECT_FALSE(store.IsChanged());
}

TEST(KeyValueStore, TypedGettersReadTheStoredForms) {
  KeyValueStore store;
  store.Add("LATEST_DOWNLOAD", "1234.bird");
  store.Add("WORD", "true");
  store.Add("TWO", "2");
  store.AddHex("HEX", 0x12AB);
  store.AddHex("ALLSET", 0xFFFFFFFF);
  store.Add("NEG", -17);
  store.Add("PI", 3.25);
  store.Add("HUGE", "99999999999999999999");
  EXPECT_STREQ(store["HEX"], "0x000012AB");
  EXPECT_STREQ(store["PI"], "3.250000");
  EXPECT_EQ(store.GetInt("LATEST_DOWNLOAD", 0), 1234);
  EXPECT_FALSE(store.GetBOOL("WORD", true));
  EXPECT_TRUE(store.GetBOOL("TWO", false));
  EXPECT_EQ(store.GetHex("HEX", 0), 0x12ABu);
  EXPECT_EQ(store.GetHex("ALLSET", 0), 0xFFFFFFFFu);
  EXPECT_EQ(store.GetInt("NEG", 0), -17);
  EXPECT_DOUBLE_EQ(store.GetDouble("PI", 0), 3.25);
  EXPECT_EQ(store.GetInt("HUGE", 0), INT_MAX);
}

TEST(KeyValueStore, ConvertingGettersAddAbsentKeysWithEmptyValues) {
  wftest::TempDir dir;
  const std::string path = dir / "attrs";
  writeText(path, "A=1\n");
  KeyValueStore store(path.c_str());
  EXPECT_EQ(store["MISSING"], nullptr);
  EXPECT_EQ(store.GetString("MISSING", "def"), "def");
  EXPECT_EQ(store.GetString("MISSING", nullptr), "");
  EXPECT_EQ(store.Entries().size(), 1u);

  EXPECT_EQ(store.GetInt("MISSING", 7), 7);
  EXPECT_FALSE(store.IsChanged());
  EXPECT_STREQ(store["MISSING"], "");
  EXPECT_EQ(store.GetString("MISSING", "def"), "");  // present, though empty
  store.Save(nullptr);
  EXPECT_EQ(wftest::readFile(path), "A=1\nMISSING=\n");

  KeyValueStore reloaded(path.c_str());
  EXPECT_EQ(reloaded.GetInt("MISSING", 9), 9);
  EXPECT_EQ(reloaded.GetHex("MISSING", 9), 9u);
  EXPECT_DOUBLE_EQ(reloaded.GetDouble("MISSING", 1.5), 1.5);
  EXPECT_TRUE(reloaded.GetBOOL("MISSING", true));
}

TEST(KeyValueStore, ChangedFlagFollowsRealChanges) {
  KeyValueStore store;
  store.Add("NEW", "");
  EXPECT_FALSE(store.IsChanged()) << "an absent key counts as empty";
  store.Add("A", "x");
  EXPECT_TRUE(store.IsChanged());

  KeyValueStore same(store);
  EXPECT_TRUE(same.IsChanged()) << "a copy keeps the flag";

  wftest::TempDir dir;
  store.Save((dir / "attrs").c_str());
  EXPECT_FALSE(store.IsChanged());
  store.Add("A", std::string("x"));
  EXPECT_FALSE(store.IsChanged()) << "the same text again";

  store.Add(KeyValueStore());
  EXPECT_FALSE(store.IsChanged()) << "an empty merge";
  KeyValueStore other;
  other.Add("A", "x");
  store.Add(other);
  EXPECT_TRUE(store.IsChanged()) << "a non-empty merge, though nothing differs";

  store.Save(nullptr);
  store.Clear();
  EXPECT_TRUE(store.IsChanged());
  EXPECT_TRUE(store.Entries().empty());
}

TEST(KeyValueStore, SaveWritesEntriesInByteOrderAndRefreshesUpdatedTimeOnlyWhenChanged) {
  wftest::TempDir dir;
  const std::string path = dir / "attrs";
  writeText(path, "b=lower\nUPDATED_TIME=then\nA=upper\n");
  KeyValueStore store(path.c_str());
  store.Save(nullptr);
  EXPECT_EQ(wftest::readFile(path), "A=upper\nUPDATED_TIME=then\nb=lower\n");

  store.Add("A", "changed");
  store.Save(nullptr);
  const auto written = lines(wftest::readFile(path));
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(written[0], "A=changed");
  EXPECT_TRUE(isStampLine(written[1], "UPDATED_TIME")) << written[1];
  EXPECT_EQ(written[2], "b=lower");
}

TEST(KeyValueStore, SaveWithoutAnyNameUsesTheDefaultInTheWorkingDirectory) {
  wftest::TempDir dir;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  KeyValueStore store;
  store.Add("A", "1");
  store.Save(nullptr);
  std::filesystem::current_path(previous);
  EXPECT_EQ(store.FileName(), ".settings");
  const auto written = lines(wftest::readFile(dir / ".settings"));
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0], "A=1");
}

TEST(KeyValueStore, AFailedSaveKeepsTheStoreChangedAndTheOldFileWhole) {
  wftest::TempDir dir;
  KeyValueStore unwritable;
  unwritable.Add("A", "1");
  unwritable.Save((dir / "no-such-dir/attrs").c_str());
  EXPECT_TRUE(unwritable.IsChanged());

  // A directory in the file's place: the new text cannot be renamed over it,
  // and no temporary file is left behind.
  std::filesystem::create_directory(dir / "attrs");
  unwritable.Save((dir / "attrs").c_str());
  EXPECT_TRUE(unwritable.IsChanged());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(ReplaceFile, ReplacesTheWholeFileAndLeavesNoTemporary) {
  wftest::TempDir dir;
  const std::string path = dir / "target";
  writeText(path, std::string(10000, 'o'));
  EXPECT_EQ(ReplaceFile(path, "new", 3), aErrNone);
  EXPECT_EQ(wftest::readFile(path), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  EXPECT_EQ(ReplaceFile(path, nullptr, 3), aErrParam);
  EXPECT_EQ(ReplaceFile(dir / "missing/target", "x", 1), aErrNotFound);
}

}  // namespace
