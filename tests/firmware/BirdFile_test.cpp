#include "firmware/BirdFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "BirdBuilder.h"
#include "common/aDefs.h"
#include "support/LogCapture.h"
#include "support/process.h"

namespace {

using birdtest::Body;
using birdtest::Bytes;
using testing::HasSubstr;

Bytes counting(size_t size, uint8_t start = 0) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(start + i);
  return out;
}

class BirdFileTest : public testing::Test {
 protected:
  std::string store(const Bytes& bytes, const std::string& name = "test.bird") {
    const std::string path = dir / name;
    birdtest::write(path, bytes);
    return path;
  }
  BirdFile load(const Body& body) { return BirdFile(store(birdtest::file(body.finish())).c_str()); }
  // The firmware payload bytes (after the address word) of block `index`.
  static Bytes payload(const BirdFile& bird, size_t index) {
    const BirdBlock block = bird.FindBlocks(BirdFile::BLOCK_TYPE_FIRMWARE).at(index);
    return Bytes(block.data + 4, block.data + block.length);
  }
  wftest::TempDir dir;
};

TEST_F(BirdFileTest, VerifyFileChecksOnlyTheHeader) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool valid;
  };
  const Case cases[] = {
      {"signature and version", {'b', 'i', 'r', 'd', 1, 1}, true},
      {"body is not examined", {'b', 'i', 'r', 'd', 1, 1, 0xFF, 0xFF}, true},
      {"version high byte zero", {'b', 'i', 'r', 'd', 0, 1}, false},
      {"version low byte zero", {'b', 'i', 'r', 'd', 1, 0}, false},
      {"wrong signature", {'b', 'i', 'r', 'D', 1, 1}, false},
      {"five bytes", {'b', 'i', 'r', 'd', 1}, false},
      {"empty", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(BirdFile::VerifyFile(store(c.bytes).c_str()), c.valid);
  }
  LogCapture log(DEBUG_BirdFile);
  EXPECT_FALSE(BirdFile::VerifyFile((dir / "missing.bird").c_str()));
  EXPECT_THAT(log.text(), HasSubstr("BIRDFILE: Error - cannot open bird file: '" + (dir / "missing.bird") + "'\n"));
}

TEST_F(BirdFileTest, LoadsAWellFormedFile) {
  Body body;
  body.loader(0x20000000, counting(12))
      .firmware(0x1000, counting(64), 5)
      .firmware(0x2000, counting(16, 0x80))
      .serial(0x1010, 0x1020)
      .info("1234", "1.2.3", "40F5849A", "HubFour")
      .block(5, {0x20, 0x00, 0x04, 0x00});
  const Bytes packed = body.finish();
  BirdFile bird = load(body);

  EXPECT_EQ(bird.Signature(), BirdFile::BIRD_FILE_SIGNATURE);
  EXPECT_EQ(bird.Version(), 0x0101u);
  EXPECT_EQ(bird.DataSize(), packed.size());
  EXPECT_EQ(bird.BlockCount(), 6u);
  EXPECT_TRUE(bird.ScanWasClean());
  EXPECT_EQ(bird.FileChecksum(), bird.ComputedChecksum());
  EXPECT_EQ(bird.FileChecksum(), BirdFile::GetInt(packed.data() + packed.size() - 4));

  const auto firmware = bird.FindBlocks(BirdFile::BLOCK_TYPE_FIRMWARE);
  ASSERT_EQ(firmware.size(), 2u);
  EXPECT_EQ(firmware[0].address, 0x1000u);
  EXPECT_EQ(firmware[0].flags, 5u);
  EXPECT_EQ(firmware[0].length, 68u);
  EXPECT_EQ(firmware[1].address, 0x2000u);
  EXPECT_EQ(bird.FindBlocks(BirdFile::BLOCK_TYPE_LOADER).at(0).address, 0x20000000u);
  EXPECT_EQ(bird.FindBlocks(BirdFile::BLOCK_TYPE_SERIAL).at(0).address, 0u);
  EXPECT_TRUE(bird.HasSerialNumberBlock());
  EXPECT_EQ(bird.SerialNumberOffset(), 0x1010u);
  EXPECT_EQ(bird.DescriptorOffset(), 0x1020u);

  EXPECT_EQ(bird.GetBuild(), 1234u);
  EXPECT_EQ(bird.GetVersion(), "1.2.3");
  EXPECT_EQ(bird.GetSerialNumber(), 0x40F5849Au);
  EXPECT_TRUE(bird.ValidateSerialNumber(0x40F5849A));
  EXPECT_EQ(bird.GetModel(), "HubFour");

  // Moving keeps the blocks pointing into the moved body.
  BirdFile moved;
  moved = std::move(bird);
  EXPECT_EQ(moved.BlockCount(), 6u);
  EXPECT_EQ(payload(moved, 1), counting(16, 0x80));
}

TEST_F(BirdFileTest, FilesThatCannotLoadAreRefusedWithTheirReason) {
  Body good;
  good.firmware(0, counting(40));
  const Bytes whole = birdtest::file(good.finish());
  Bytes highlyCompressible{'b', 'i', 'r', 'd', 1, 1};
  const Bytes zeros = birdtest::compress(Bytes(100000, 0));
  highlyCompressible.insert(highlyCompressible.end(), zeros.begin(), zeros.end());

  struct Case {
    const char* name;
    Bytes bytes;
    const char* logged;
  };
  const Case cases[] = {
      {"header only", {'b', 'i', 'r', 'd', 1, 1}, "decompressing bird file."},
      {"compressed beyond eight to one", highlyCompressible, "BIRDFILE: Error (-5) decompressing bird file.\n"},
      {"cut-off compressed stream", Bytes(whole.begin(), whole.end() - 10), "decompressing bird file."},
      {"block running past the body", birdtest::file(Body().rawBlock(1, 100, counting(20)).finish()),
       "claims 100 bytes where"},
      {"body ending before its checksum", birdtest::file(Body().firmware(0, counting(8)).finish(std::nullopt, false)),
       "Body ends before its checksum (0 bytes remaining)"},
      {"body without a block count", birdtest::file({0, 0}), "too short for a block count"},
      {"trailing bytes read as a further block",
       [] {
         Bytes body = Body().firmware(0, counting(8)).finish();
         body.insert(body.end(), {1, 2, 3, 4, 5, 6});
         return birdtest::file(body);
       }(),
       "the file is cut off"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = store(c.bytes);
    LogCapture log(DEBUG_BirdFile);
    BirdFile bird;
    EXPECT_THROW(
        {
          try {
            BirdFile loaded(path.c_str());
          } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Failed to load bird data");
            throw;
          }
        },
        std::runtime_error);
    EXPECT_THAT(log.text(), HasSubstr(c.logged));
  }

  LogCapture log(DEBUG_BirdFile);
  EXPECT_THROW(BirdFile((dir / "absent.bird").c_str()), std::runtime_error);
  EXPECT_THAT(log.text(), HasSubstr("BIRDFILE: BIRD file not found [" + (dir / "absent.bird") + "]\n"));
}

TEST_F(BirdFileTest, ACountMismatchIsLoggedButTheFileLoads) {
  LogCapture log(DEBUG_BirdFile);
  Body body;
  body.firmware(0, counting(8)).info("1", "v", "0", "NetIO");
  BirdFile bird(store(birdtest::file(body.finish(3))).c_str());
  EXPECT_EQ(bird.BlockCount(), 2u);
  EXPECT_EQ(bird.DeclaredBlockCount(), 3u);
  EXPECT_FALSE(bird.ScanWasClean());
  EXPECT_THAT(log.text(), HasSubstr("BIRDFILE: Block parsing mismatch in number of blocks. (2 != 3)\n"));
  EXPECT_THAT(log.text(), HasSubstr("BIRDFILE:\t\t \t[NetIO           ]\n"));
}

TEST_F(BirdFileTest, ShortBlocksLoadAndReadersStayInsideThem) {
  Body body;
  body.block(1, {0x00, 0x01})                               // firmware too short for its address
      .block(2, {0, 0, 0x10, 0})                            // serial block without its descriptor place
      .block(4, {'4', '2', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '1', '.', '0'});
  BirdFile bird = load(body);
  EXPECT_EQ(bird.BlockCount(), 3u);
  EXPECT_EQ(bird.FindBlocks(BirdFile::BLOCK_TYPE_FIRMWARE).at(0).address, 0u);
  EXPECT_TRUE(bird.HasSerialNumberBlock());
  EXPECT_EQ(bird.SerialNumberOffset(), 0u);
  EXPECT_FALSE(bird.ReplaceSerialNumber(0x1234));
  EXPECT_TRUE(bird.ReplaceVectorChecksum());
  EXPECT_TRUE(bird.DecodeFirmwareBlocks(std::array<unsigned, 4>{1, 2, 3, 4}.data()));
  EXPECT_EQ(bird.GetBuild(), 42u);
  EXPECT_EQ(bird.GetVersion(), "1.0");
  EXPECT_EQ(bird.GetSerialNumber(), 0u);
  EXPECT_EQ(bird.GetModel(), "");
  EXPECT_FALSE(bird.ValidateModel("HubFour"));
}

TEST_F(BirdFileTest, InformationFieldsReadAsTheirTextsSay) {
  struct Case {
    std::string build, version, serial;
    unsigned expectedBuild;
    std::string expectedVersion;
    unsigned expectedSerial;
  };
  const Case cases[] = {
      {"1234", "1.2.3", "40F5849AXYZ", 1234, "1.2.3", 0x40F5849A},
      {"  77abc", "2.0 beta", "0000ffff", 77, "2.0", 0xFFFF},
      {"123456789012345", "123456789012345", "-1", 0, "123456789012345", 0},
      {"", "", "", 0, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.build);
    BirdFile bird = load(Body().info(c.build, c.version, c.serial, "X"));
    EXPECT_EQ(bird.GetBuild(), c.expectedBuild);
    EXPECT_EQ(bird.GetVersion(), c.expectedVersion);
    EXPECT_EQ(bird.GetSerialNumber(), c.expectedSerial);
  }
  // Only the first 15 characters of the build field count.
  Body digits;
  digits.block(4, [] {
    Bytes data = birdtest::field16("1234567890123459");
    for (int i = 0; i < 3; ++i) data.insert(data.end(), 16, ' ');
    return data;
  }());
  EXPECT_EQ(load(digits).GetBuild(), 0u) << "123456789012345 does not fit 32 bits";

  BirdFile none = load(Body().firmware(0, counting(4)));
  EXPECT_EQ(none.GetBuild(), 0u);
  EXPECT_EQ(none.GetVersion(), "");
  EXPECT_EQ(none.GetSerialNumber(), 0u);
  EXPECT_TRUE(none.ValidateSerialNumber(0));
  EXPECT_FALSE(none.ValidateModel(""));
}

TEST_F(BirdFileTest, ModelMatchesItsNameAndPrefixesOnly) {
  BirdFile bird = load(Body().info("1", "1", "0", "HubFour"));
  for (const char* model : {"HubFour", "Hub", ""}) EXPECT_TRUE(bird.ValidateModel(model)) << model;
  for (const char* model : {"HubFourX", "hubfour", "HubEight", "HubFour         X"})
    EXPECT_FALSE(bird.ValidateModel(model)) << model;

  // The model table's names never accept a sibling's firmware.
  for (uint32_t fileModel = 1; fileModel <= 17; ++fileModel) {
    BirdFile sibling = load(Body().info("1", "1", "0", aDefs_GetModelName(fileModel)));
    for (uint32_t module = 1; module <= 17; ++module)
      EXPECT_EQ(sibling.ValidateModel(aDefs_GetModelName(module)), module == fileModel) << fileModel << " " << module;
  }
}

TEST_F(BirdFileTest, SerialNumberIsPatchedInsidePayloadsOnly) {
  // Payload covers 0x1000..0x103F.
  struct Case {
    const char* name;
    uint32_t word, descriptor;
    bool result;
    size_t wordAt, textAt;  // payload offsets patched, or SIZE_MAX
  };
  constexpr size_t kNone = SIZE_MAX;
  const Case cases[] = {
      {"word at the very end", 0x103C, 0, true, 0x3C, kNone},
      {"word one byte past the end", 0x103D, 0, false, kNone, kNone},
      {"word before the payload", 0x0FFE, 0, false, kNone, kNone},
      {"descriptor at the very end", 0, 0x1030, true, kNone, 0x30},
      {"descriptor one byte past", 0, 0x1031, false, kNone, kNone},
      {"both places", 0x1000, 0x1010, true, 0x00, 0x10},
      {"word covered, descriptor not", 0x1000, 0x2000, false, 0x00, kNone},
      {"no places", 0, 0, false, kNone, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BirdFile bird = load(Body().firmware(0x1000, Bytes(64, 0xEE)).serial(c.word, c.descriptor));
    EXPECT_EQ(bird.ReplaceSerialNumber(0x40F5849A), c.result);
    Bytes expected(64, 0xEE);
    if (c.wordAt != kNone) {
      const Bytes word{0x9A, 0x84, 0xF5, 0x40};
      std::copy(word.begin(), word.end(), expected.begin() + static_cast<long>(c.wordAt));
    }
    if (c.textAt != kNone)
      for (size_t i = 0; i < 8; ++i) expected[c.textAt + 2 * i] = static_cast<uint8_t>("40F5849A"[i]);
    EXPECT_EQ(payload(bird, 0), expected);
  }
  EXPECT_FALSE(load(Body().serial(0x10, 0x20)).ReplaceSerialNumber(1)) << "no firmware block";
}

TEST_F(BirdFileTest, VectorChecksumMakesTheTableSumToZero) {
  Bytes table;
  const uint32_t vectors[8] = {0x10008000, 0x000000C1, 0xFFFFFFF0, 3, 4, 0xDEADBEEF, 6, 0};
  for (uint32_t v : vectors)
    for (int i = 0; i < 4; ++i) table.push_back(static_cast<uint8_t>(v >> (8 * i)));
  table.insert(table.end(), {0xAA, 0xBB});
  BirdFile bird = load(Body().firmware(0, table).firmware(0x100, table).firmware(0, Bytes(31, 0x55)));
  EXPECT_TRUE(bird.ReplaceVectorChecksum());

  const Bytes patched = payload(bird, 0);
  uint32_t sum = 0;
  for (int entry : {0, 1, 2, 3, 4, 6, 7})
    sum += static_cast<uint32_t>(patched[4 * entry]) | patched[4 * entry + 1] << 8 | patched[4 * entry + 2] << 16 |
           static_cast<uint32_t>(patched[4 * entry + 3]) << 24;
  EXPECT_EQ(sum, 0u);
  EXPECT_EQ(Bytes(patched.begin(), patched.begin() + 28), Bytes(table.begin(), table.begin() + 28));
  EXPECT_EQ(Bytes(patched.begin() + 32, patched.end()), (Bytes{0xAA, 0xBB}));
  EXPECT_EQ(payload(bird, 1), table) << "not at address 0";
  EXPECT_EQ(payload(bird, 2), Bytes(31, 0x55)) << "too short for a table";
}

TEST_F(BirdFileTest, DecodeFirmwareBlocksUndoesTheScrambling) {
  const unsigned key[4] = {0x01020304, 0xA0B0C0D0, 0x11223344, 0xFFEEDDCC};
  const uint8_t stream[16] = {1, 2, 3, 4, 0xA0, 0xB0, 0xC0, 0xD0, 0x11, 0x22, 0x33, 0x44, 0xFF, 0xEE, 0xDD, 0xCC};
  const Bytes plainA = counting(40, 7);
  const Bytes plainB = counting(20, 0x90);
  auto scramble = [&](const Bytes& plain) {
    Bytes out(plain.size());
    uint8_t previous = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
      out[i] = plain[i] ^ stream[i % 16] ^ previous;
      previous = plain[i];
    }
    return out;
  };
  BirdFile bird = load(Body().firmware(0, scramble(plainA)).loader(0, Bytes(8, 0x33)).firmware(0x400, scramble(plainB)));
  EXPECT_TRUE(bird.DecodeFirmwareBlocks(key));
  EXPECT_EQ(payload(bird, 0), plainA);
  EXPECT_EQ(payload(bird, 1), plainB) << "each block starts afresh";
  const BirdBlock loader = bird.FindBlocks(BirdFile::BLOCK_TYPE_LOADER).at(0);
  EXPECT_EQ(Bytes(loader.data + 4, loader.data + loader.length), Bytes(8, 0x33));

  const unsigned zero[4] = {};
  BirdFile chain = load(Body().firmware(0, {5, 1, 1, 0xFF}));
  chain.DecodeFirmwareBlocks(zero);
  EXPECT_EQ(payload(chain, 0), (Bytes{5, 4, 5, 0xFA}));
  EXPECT_FALSE(chain.DecodeFirmwareBlocks(nullptr));
}

TEST_F(BirdFileTest, ValidateDataFindsPatternsAnywhereInFirmwareData) {
  BirdFile bird = load(Body().firmware(0xAABBCCDD, {1, 2, 3, 4, 5}).loader(0, {9, 9, 9, 9}));
  const Bytes address{0xAA, 0xBB}, last{4, 5}, whole{0xAA, 0xBB, 0xCC, 0xDD, 1, 2, 3, 4, 5};
  const Bytes tooLong(10, 1), loaderOnly{9, 9}, absent{5, 4};
  EXPECT_TRUE(bird.ValidateData(address.data(), 2));
  EXPECT_TRUE(bird.ValidateData(last.data(), 2)) << "the last position counts";
  EXPECT_TRUE(bird.ValidateData(whole.data(), 9));
  EXPECT_FALSE(bird.ValidateData(tooLong.data(), 10));
  EXPECT_FALSE(bird.ValidateData(loaderOnly.data(), 2));
  EXPECT_FALSE(bird.ValidateData(absent.data(), 2));
  EXPECT_FALSE(bird.ValidateData(nullptr, 0));
}

TEST_F(BirdFileTest, DumpBlocksPrintsRowsOfFiftyBytes) {
  const std::string path = store(birdtest::file(Body().block(9, Bytes{'A', 'B', 0}).block(9, counting(51, 0x30)).finish()));
  BirdFile bird(path.c_str());
  testing::internal::CaptureStdout();
  bird.DumpBlocks(static_cast<BirdFile::BLOCK_TYPE>(9));
  const std::string out = testing::internal::GetCapturedStdout();
  std::string second = " \r\n000000: ";
  std::string text;
  for (int i = 0; i < 50; ++i) {
    char hex[4];
    snprintf(hex, sizeof hex, "%02X ", 0x30 + i);
    second += hex;
    text += static_cast<char>(0x30 + i);
  }
  second += " " + text + "\r\n000050: 62  b\n";
  EXPECT_EQ(out, "BIRDFILE: BLOCK DUMP [" + path + "]\n \r\n000000: 41 42 00  AB \n" + second + "\n");
}

}  // namespace

namespace {

// Damaged bodies (cut anywhere, bytes changed anywhere) never make the scan
// or the readers step outside the body: each body sits in a buffer of its
// exact size, so the address sanitizer catches any stray read or write.
TEST(BirdFileScan, DamagedBodiesStayInsideTheirBytes) {
  const Bytes good = Body()
                         .loader(0x20000000, counting(6))
                         .firmware(0x1000, counting(40))
                         .serial(0x1024, 0x1008)
                         .info("1234", "1.2.3", "40F5849A", "HubFour")
                         .block(5, {0x20, 0, 4, 0})
                         .finish();
  const unsigned key[4] = {1, 2, 3, 4};
  const unsigned char pattern[] = {0x10, 0x11};
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  for (int round = 0; round < 3000; ++round) {
    Bytes damaged(good);
    if (round % 2 == 0) damaged.resize(next() % (good.size() + 1));
    for (uint32_t flips = next() % 4; flips > 0 && !damaged.empty(); --flips)
      damaged[next() % damaged.size()] = static_cast<uint8_t>(next());
    auto body = std::make_unique<unsigned char[]>(damaged.size());
    std::copy(damaged.begin(), damaged.end(), body.get());

    BirdFile bird;
    bird.ScanBlocks(body.get(), static_cast<unsigned>(damaged.size()));
    bird.FindSerialNumberOffsets();
    bird.ReplaceSerialNumber(0x40F5849A);
    bird.ReplaceVectorChecksum();
    bird.DecodeFirmwareBlocks(key);
    bird.ValidateData(pattern, sizeof pattern);
    bird.ValidateModel("HubFour");
    bird.GetBuild();
    bird.GetVersion();
    bird.GetSerialNumber();
    for (const BirdBlock& block : bird.Blocks()) {
      ASSERT_GE(block.data, body.get());
      ASSERT_LE(block.data + block.length, body.get() + damaged.size());
    }
  }
}

}  // namespace
