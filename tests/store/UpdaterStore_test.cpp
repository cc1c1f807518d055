#include "store/UpdaterStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "firmware/BirdBuilder.h"
#include "support/LogCapture.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

std::string runtimeError(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(nothing thrown)";
}

std::set<std::string> namesIn(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename());
  return names;
}

TEST(UpdaterStore, ConstructionEnsuresTheRootAndItsParents) {
  wftest::TempDir dir;
  const std::string root = dir / "home/.quorvant/updater";
  {
    LogCapture log(DEBUG_Updater);
    UpdaterStore store(root.c_str());
    EXPECT_STREQ(store.BasePath(), root.c_str());
    EXPECT_THAT(log.text(), HasSubstr("UpdaterStore: Created directory [" + root + "].\n"));
  }
  EXPECT_TRUE(fs::is_directory(root));
  LogCapture log(DEBUG_Updater);
  UpdaterStore again(root.c_str());
  EXPECT_THAT(log.text(), HasSubstr("UpdaterStore: [" + root + "] already exists.\n"));
}

TEST(UpdaterStore, UnusableRootsThrow) {
  wftest::TempDir dir;
  std::ofstream(dir / "file") << "x";
  EXPECT_EQ(runtimeError([&] { UpdaterStore store((dir / "file").c_str()); }),
            "UpdaterStore: " + (dir / "file") + " exists and is a file");
  EXPECT_THAT(runtimeError([&] { UpdaterStore store((dir / "file/below").c_str()); }),
              testing::StartsWith("UpdaterStore: Could not create directory " + (dir / "file/below") + " error "));
}

TEST(UpdaterStore, AddDeviceCreatesTheModuleDirectoryAndItsAttributes) {
  wftest::TempDir dir;
  UpdaterStore store(dir.path().c_str());
  UpdaterStoreItem item = store.AddDevice(0x12AB);
  EXPECT_EQ(item.directory, dir.path());
  EXPECT_EQ(item.name, "000012AB");
  EXPECT_EQ(item.kind, STORE_ITEM_DIRECTORY);
  EXPECT_TRUE(item.IsValid());
  const std::string settings = dir / "000012AB/.settings";
  const std::string first = wftest::readFile(settings);
  EXPECT_THAT(first, testing::MatchesRegex("CREATED_TIME=.{24}\nUPDATED_TIME=.{24}\n"));

  item.attributes.Add("LATEST_DOWNLOAD", "1234.bird");
  item.attributes.Save(nullptr);
  EXPECT_THAT(wftest::readFile(settings), HasSubstr("LATEST_DOWNLOAD=1234.bird\n"));

  UpdaterStoreItem again = store.AddDevice(0x12AB);
  EXPECT_EQ(again.attributes.GetString("LATEST_DOWNLOAD", nullptr), "1234.bird");
  EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"000012AB"});

  for (const char* name : {"..", "../outside", "a/b", "", "."})
    EXPECT_THAT(runtimeError([&] { store.AddDevice(name); }), HasSubstr("invalid device name")) << name;
  EXPECT_FALSE(fs::exists(dir / "../outside"));
}

TEST(UpdaterStore, FindDeviceMatchesTheModuleDirectoryByItsExactName) {
  wftest::TempDir dir;
  // The store's own path holds the serial text: that must not count.
  const std::string root = dir / "000012AB/updater";
  UpdaterStore store(root.c_str());
  UpdaterStoreItem untouched("x", "y", STORE_ITEM_FILE);
  EXPECT_FALSE(store.FindDevice(0x12AB, &untouched));
  EXPECT_EQ(untouched.directory, "x");

  fs::create_directory(root + "/X000012ABX");
  std::ofstream(root + "/000012AB.bird") << "x";
  EXPECT_FALSE(store.FindDevice(0x12AB, nullptr)) << "neither a longer name nor a file";

  UpdaterStoreItem k = store.AddDevice(0x12AB);
  k.attributes.Add("K", "V");
  k.attributes.Save(nullptr);

  LogCapture log(DEBUG_Updater);
  UpdaterStoreItem found;
  EXPECT_FALSE(found.IsValid());
  ASSERT_TRUE(store.FindDevice(0x12AB, &found));
  EXPECT_EQ(found.directory, root);
  EXPECT_EQ(found.name, "000012AB");
  EXPECT_EQ(found.kind, STORE_ITEM_DIRECTORY);
  EXPECT_EQ(found.attributes.GetString("K", nullptr), "V");
  EXPECT_THAT(log.text(), HasSubstr("UpdaterStore: FindDevice Found 000012AB.\n"));
  EXPECT_FALSE(store.FindDevice(0x12AC, nullptr));
  EXPECT_THAT(log.text(), HasSubstr("UpdaterStore: FindDevice Not Found 000012AC.\n"));
}

TEST(UpdaterStore, FindLocalBuildsListsTheVisibleFilesOfTheModule) {
  wftest::TempDir dir;
  UpdaterStore store(dir.path().c_str());
  UpdaterStoreItem device = store.AddDevice(0x12AB);
  const unsigned char bytes[] = {1, 2, 3};
  ASSERT_EQ(device.WriteFile("1234.bird", bytes, sizeof bytes), aErrNone);
  ASSERT_EQ(device.WriteFile("1240.bird", bytes, sizeof bytes), aErrNone);

  std::vector<UpdaterStoreItem> builds(1);  // appended to, never cleared
  EXPECT_TRUE(store.FindLocalBuilds(0x12AB, builds));
  ASSERT_EQ(builds.size(), 3u);
  std::set<std::string> names;
  for (size_t i = 1; i < builds.size(); ++i) {
    EXPECT_EQ(builds[i].directory, dir / "000012AB");
    EXPECT_EQ(builds[i].kind, STORE_ITEM_FILE);
    EXPECT_TRUE(builds[i].IsValid());
    names.insert(builds[i].name);
  }
  EXPECT_EQ(names, (std::set<std::string>{"1234.bird", "1240.bird"}));

  std::vector<UpdaterStoreItem> none;
  EXPECT_TRUE(store.FindLocalBuilds(0x9999, none));
  EXPECT_TRUE(none.empty());
}

TEST(UpdaterStoreItem, WriteFileReplacesTheWholeFile) {
  wftest::TempDir dir;
  UpdaterStore store(dir.path().c_str());
  UpdaterStoreItem device = store.AddDevice(0x1);
  const std::string path = dir / "00000001/7.bird";
  const std::vector<unsigned char> big(100000, 0x5A);
  const unsigned char small[] = {'o', 'k'};

  EXPECT_EQ(device.WriteFile("7.bird", nullptr, 10), aErrNotFound);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(device.WriteFile("7.bird", big.data(), big.size()), aErrNone);
  EXPECT_EQ(fs::file_size(path), big.size());
  EXPECT_EQ(device.WriteFile("7.bird", small, sizeof small), aErrNone);
  EXPECT_EQ(wftest::readFile(path), "ok");
  EXPECT_EQ(namesIn(dir / "00000001"), (std::set<std::string>{".settings", "7.bird"}));

  EXPECT_EQ(device.WriteFile("../escape.bird", small, sizeof small), aErrParam);
  EXPECT_EQ(UpdaterStoreItem().WriteFile("x.bird", small, sizeof small), aErrNotFound);
  fs::remove_all(dir / "00000001");
  EXPECT_EQ(device.WriteFile("7.bird", small, sizeof small), aErrNotFound) << "its directory is gone";
}

TEST(UpdaterStoreItem, ReadBirdFileLoadsOrThrows) {
  wftest::TempDir dir;
  UpdaterStore store(dir.path().c_str());
  UpdaterStoreItem device = store.AddDevice(0x1);
  const auto good = birdtest::file(birdtest::Body().info("1234", "1.2.3", "00000001", "NetIO").finish());
  const auto badBody = birdtest::Bytes{'b', 'i', 'r', 'd', 1, 1, 0xDE, 0xAD};
  ASSERT_EQ(device.WriteFile("1234.bird", good.data(), good.size()), aErrNone);
  ASSERT_EQ(device.WriteFile("bad.bird", badBody.data(), badBody.size()), aErrNone);
  ASSERT_EQ(device.WriteFile("text.bird", badBody.data() + 4, 4), aErrNone);

  EXPECT_EQ(device.ReadBirdFile("1234.bird").GetBuild(), 1234u);
  EXPECT_EQ(runtimeError([&] { device.ReadBirdFile("text.bird"); }), "Invalid bird " + (dir / "00000001/text.bird"));
  EXPECT_EQ(runtimeError([&] { device.ReadBirdFile("missing.bird"); }),
            "Invalid bird " + (dir / "00000001/missing.bird"));
  EXPECT_EQ(runtimeError([&] { device.ReadBirdFile("bad.bird"); }), "Failed to load bird data");
}

TEST(UpdaterStoreItem, FileExistsLooksForTheExactName) {
  wftest::TempDir dir;
  UpdaterStore store(dir.path().c_str());
  UpdaterStoreItem device = store.AddDevice(0x1);
  const unsigned char bytes[] = {0};
  device.WriteFile("11234.bird", bytes, 1);
  EXPECT_FALSE(device.FileExists("1234.bird"));
  device.WriteFile("1234.bird", bytes, 1);
  EXPECT_TRUE(device.FileExists("1234.bird"));
  EXPECT_FALSE(UpdaterStoreItem().FileExists("1234.bird"));
}

}  // namespace
