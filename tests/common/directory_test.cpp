#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "common/aDirectory.h"
#include "common/path.h"
#include "support/process.h"

TEST(BuildPath, JoinsWithoutTrimming) {
  EXPECT_EQ(BuildPath("a", "b", "c", nullptr), "a/b/c");
  EXPECT_EQ(BuildPath("a", "", nullptr), "a/");
  EXPECT_EQ(BuildPath("a", nullptr), "a");
  EXPECT_EQ(BuildPath("a/", "b", nullptr), "a//b");
}

TEST(DirectoryBuildPath, SeparatorRulesAndLimits) {
  char buffer[64];
  EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof buffer, "a/", "b", nullptr), aErrNone);
  EXPECT_STREQ(buffer, "a/b");
  EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof buffer, "a", "b", nullptr), aErrNone);
  EXPECT_STREQ(buffer, "a/b");
  EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof buffer, "a/", "/b", nullptr), aErrNone);
  EXPECT_STREQ(buffer, "a//b");
  EXPECT_EQ(aDirectory_JoinPath(buffer, sizeof buffer, "/tmp", "x"), aErrNone);
  EXPECT_STREQ(buffer, "/tmp/x");

  // Ten parts are allowed, eleven are not.
  EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof buffer, "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", nullptr),
            aErrNone);
  EXPECT_STREQ(buffer, "1/2/3/4/5/6/7/8/9/10");
  EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof buffer, "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11",
                                 nullptr),
            aErrParam);

  char small[4];
  EXPECT_EQ(aDirectory_BuildPath(small, sizeof small, "ab", "c", nullptr), aErrOverrun);
  EXPECT_EQ(aDirectory_BuildPath(small, sizeof small, "abc", nullptr), aErrOverrun);
  EXPECT_EQ(aDirectory_BuildPath(nullptr, 10, "a", nullptr), aErrParam);
  EXPECT_EQ(aDirectory_BuildPath(buffer, sizeof buffer, buffer, nullptr), aErrParam);
}

TEST(DirectoryEnsure, CreatesEveryMissingLevelOnce) {
  wftest::TempDir temp;
  const std::string deep = temp / "x/y//z";
  EXPECT_FALSE(aDirectory_Exists(deep.c_str()));
  EXPECT_EQ(aDirectory_Ensure(deep.c_str(), 0755), aErrNone);
  for (const char* level : {"x", "x/y", "x/y/z"}) EXPECT_TRUE(aDirectory_Exists((temp / level).c_str())) << level;
  struct stat info {};
  ASSERT_EQ(stat((temp / "x/y/z").c_str(), &info), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0755u & ~mask);
  EXPECT_EQ(aDirectory_Ensure(deep.c_str(), 0755), aErrNone);
}

TEST(DirectoryEnsure, RelativePathsAndBlockedPaths) {
  wftest::TempDir temp;
  char cwd[4096];
  ASSERT_EQ(aDirectory_CWD(cwd, sizeof cwd), aErrNone);
  ASSERT_EQ(chdir(temp.path().c_str()), 0);
  EXPECT_EQ(aDirectory_Ensure("rel/one", 0700), aErrNone);
  EXPECT_TRUE(aDirectory_Exists((temp / "rel/one").c_str()));
  ASSERT_EQ(chdir(cwd), 0);

  std::ofstream(temp / "file") << "x";
  EXPECT_EQ(aDirectory_Ensure((temp / "file/below").c_str(), 0755), aErrPermission);
}

TEST(DirectoryList, VisitsEveryEntryAndStopsWhenAsked) {
  wftest::TempDir temp;
  ASSERT_EQ(aDirectory_Ensure((temp / "sub").c_str(), 0755), aErrNone);
  std::ofstream(temp / "five") << "12345";

  struct Seen {
    std::vector<std::string> names;
    int stopAfter = 100;
  } seen;
  auto record = [](const aDirectoryListData* data, void* context) {
    auto* s = static_cast<Seen*>(context);
    const std::string path(data->fullPath);
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name == "five") {
      EXPECT_EQ(data->size, 5u);
    }
    EXPECT_EQ(data->isDirectory, name != "five" ? 1 : 0) << name;
    s->names.push_back(name);
    return static_cast<int>(s->names.size()) < s->stopAfter;
  };
  EXPECT_EQ(aDirectory_List(temp.path().c_str(), record, &seen), aErrNone);
  std::sort(seen.names.begin(), seen.names.end());
  EXPECT_EQ(seen.names, (std::vector<std::string>{".", "..", "five", "sub"}));

  seen = Seen{{}, 2};
  EXPECT_EQ(aDirectory_List(temp.path().c_str(), record, &seen), aErrNone);
  EXPECT_EQ(seen.names.size(), 2u);
  EXPECT_EQ(aDirectory_List((temp / "missing").c_str(), record, &seen), aErrNotFound);
}

TEST(DirectoryDelete, TreeAndEmptyDirectory) {
  wftest::TempDir temp;
  const std::string root = temp / "root";
  ASSERT_EQ(aDirectory_Ensure((root + "/a/b").c_str(), 0755), aErrNone);
  std::ofstream(root + "/a/b/f1") << "1";
  std::ofstream(root + "/f2") << "2";
  EXPECT_EQ(aDirectory_Delete(root.c_str()), aErrUnknown);  // not empty
  EXPECT_EQ(aDirectory_DeleteTree(root.c_str()), aErrNone);
  EXPECT_FALSE(aDirectory_Exists(root.c_str()));
  EXPECT_EQ(aDirectory_DeleteTree(root.c_str()), aErrNotFound);
}

TEST(DirectoryPaths, HomeCwdAndExecutable) {
  char buffer[2048];
  EXPECT_EQ(aDirectory_GetHomeDirectory(buffer, sizeof buffer), aErrNone);
  EXPECT_NE(buffer[0], '\0');
  EXPECT_EQ(aDirectory_ExecutableFilePath(buffer, sizeof buffer), aErrNone);
  EXPECT_NE(std::string(buffer).find("test_common"), std::string::npos);
  char tiny[5];
  EXPECT_EQ(aDirectory_ExecutableFilePath(tiny, sizeof tiny), aErrNone);
  EXPECT_EQ(std::string(tiny).size(), 4u);
  EXPECT_EQ(aDirectory_CWD(tiny, 1), aErrParam);
}
