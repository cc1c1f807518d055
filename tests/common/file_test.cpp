#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "common/aFile.h"
#include "support/process.h"

namespace {

std::string write(const wftest::TempDir& temp, const char* name, const std::string& content) {
  const std::string path = temp / name;
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

}  // namespace

TEST(FileOpen, RefusesBadPathsAndModes) {
  wftest::TempDir temp;
  const std::string path = write(temp, "f", "abc");
  EXPECT_EQ(aFile_Open("", aFileModeReadOnly), nullptr);
  EXPECT_EQ(aFile_Open(nullptr, aFileModeReadOnly), nullptr);
  EXPECT_EQ(aFile_Open(path.c_str(), aFileModeUnknown), nullptr);
  EXPECT_EQ(aFile_Open(std::string(4097, 'a').c_str(), aFileModeWriteOnly), nullptr);
  EXPECT_EQ(aFile_Open((temp / "missing").c_str(), aFileModeReadOnly), nullptr);
  EXPECT_TRUE(aFile_Exists(path.c_str()));
  EXPECT_FALSE(aFile_Exists(temp.path().c_str()));  // a directory is not a file
}

TEST(FileHandle, InvalidAndClosedHandles) {
  wftest::TempDir temp;
  aFileRef file = aFile_Open(write(temp, "f", "abc").c_str(), aFileModeReadOnly);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(aFile_Close(&file), aErrNone);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(aFile_Close(&file), aErrParam);
  char buffer[4];
  EXPECT_EQ(aFile_Read(nullptr, buffer, 1, nullptr), aErrParam);
  EXPECT_EQ(aFile_Printf(nullptr, "x"), aErrParam);
}

TEST(FileReadWrite, ModesEndOfFileAndCounts) {
  wftest::TempDir temp;
  const std::string path = temp / "rw";
  aFileRef out = aFile_Open(path.c_str(), aFileModeWriteOnly);
  ASSERT_NE(out, nullptr);
  char buffer[16];
  size_t count = 99;
  EXPECT_EQ(aFile_Read(out, buffer, 1, &count), aErrMode);
  EXPECT_EQ(aFile_Write(out, "hello", 5, &count), aErrNone);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(aFile_Printf(out, " %d", 42), aErrNone);
  aFile_Close(&out);

  aFileRef in = aFile_Open(path.c_str(), aFileModeReadOnly);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(aFile_Write(in, "x", 1, &count), aErrMode);
  EXPECT_EQ(aFile_Printf(in, "x"), aErrMode);
  EXPECT_EQ(aFile_Read(in, buffer, sizeof buffer, &count), aErrNone);  // short read is success
  EXPECT_EQ(std::string(buffer, count), "hello 42");
  EXPECT_EQ(aFile_Read(in, buffer, 4, &count), aErrEOF);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(aFile_Read(in, buffer, 0, &count), aErrNone);
  aFile_Close(&in);

  // Append mode reads and writes and starts at the end.
  aFileRef both = aFile_Open(path.c_str(), aFileModeAppend);
  ASSERT_NE(both, nullptr);
  size_t position = 0;
  EXPECT_EQ(aFile_GetPosition(both, &position), aErrNone);
  EXPECT_EQ(position, 8u);
  EXPECT_EQ(aFile_Write(both, "!", 1, nullptr), aErrNone);
  EXPECT_EQ(aFile_Seek(both, 0, aSeekStart), aErrNone);
  EXPECT_EQ(aFile_Read(both, buffer, sizeof buffer, &count), aErrNone);
  EXPECT_EQ(std::string(buffer, count), "hello 42!");
  aFile_Close(&both);
}

TEST(FileSeek, StaysWithinTheFile) {
  wftest::TempDir temp;
  aFileRef file = aFile_Open(write(temp, "s", "0123456789").c_str(), aFileModeReadOnly);
  ASSERT_NE(file, nullptr);
  size_t size = 0;
  EXPECT_EQ(aFile_GetSize(file, &size), aErrNone);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(aFile_GetSize(file, nullptr), aErrParam);

  struct Case {
    int64_t offset;
    int origin;
    aErr result;
    size_t positionAfter;
  };
  const Case cases[] = {
      {4, aSeekStart, aErrNone, 4},   {2, aSeekCurrent, aErrNone, 6}, {1, aSeekEnd, aErrRange, 6},
      {0, aSeekEnd, aErrNone, 10},    {-3, aSeekEnd, aErrNone, 7},    {-8, aSeekCurrent, aErrRange, 7},
      {11, aSeekStart, aErrRange, 7}, {-1, aSeekStart, aErrRange, 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(aFile_Seek(file, c.offset, c.origin), c.result) << c.offset << "/" << c.origin;
    size_t position = 0;
    EXPECT_EQ(aFile_GetPosition(file, &position), aErrNone);
    EXPECT_EQ(position, c.positionAfter) << c.offset << "/" << c.origin;
  }
  aFile_Close(&file);
}

TEST(FileReadLine, WholeLinesOverrunAndEnd) {
  wftest::TempDir temp;
  aFileRef file = aFile_Open(write(temp, "l", "abcdefg\nabc\nend").c_str(), aFileModeReadOnly);
  ASSERT_NE(file, nullptr);
  char line[5];
  size_t length = 0;
  EXPECT_EQ(aFile_ReadLine(file, line, sizeof line, &length), aErrOverrun);
  EXPECT_STREQ(line, "abcd");
  EXPECT_EQ(aFile_ReadLine(file, line, sizeof line, &length), aErrNone);  // rest of the line
  EXPECT_STREQ(line, "efg\n");
  EXPECT_EQ(aFile_ReadLine(file, line, sizeof line, &length), aErrNone);
  EXPECT_STREQ(line, "abc\n");
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(aFile_ReadLine(file, line, sizeof line, &length), aErrNone);  // last line, no newline, fits the buffer
  EXPECT_STREQ(line, "end");
  EXPECT_EQ(aFile_ReadLine(file, line, sizeof line, &length), aErrEOF);
  EXPECT_EQ(length, 0u);
  EXPECT_STREQ(line, "");
  aFile_Close(&file);
}

TEST(FileDelete, ErrorMapping) {
  wftest::TempDir temp;
  const std::string path = write(temp, "d", "x");
  EXPECT_EQ(aFile_Delete(path.c_str()), aErrNone);
  EXPECT_FALSE(aFile_Exists(path.c_str()));
  EXPECT_EQ(aFile_Delete(path.c_str()), aErrNotFound);
  EXPECT_EQ(aFile_Delete(nullptr), aErrParam);
  EXPECT_EQ(aFile_Delete(std::string(4097, 'a').c_str()), aErrFileNameLength);
}
