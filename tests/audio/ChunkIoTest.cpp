#include <gtest/gtest.h>

#include <filesystem>

#include "audio/ChunkIo.h"
#include "tests/support/TestPaths.h"
#include "tests/support/WavBuilder.h"

namespace klarwell {
namespace {

using test::TBytes;

class ChunkIoTest : public ::testing::Test {
 protected:
  void SetUp() override { Dir = test::MakeTempDir(); }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  std::string Dir;
};

TEST_F(ChunkIoTest, DescendFindsSkipsAndStopsAtTheParentsEnd) {
  // RIFF form with an odd chunk (padded), the wanted one, and a last one that claims too much.
  TBytes bytes =
      test::TWavBuilder().Chunk("odd ", {1, 2, 3}).Chunk("want", {9, 8}).Chunk("big ", {7, 7}, 1000).Bytes();
  std::string path = Dir + "/c.riff";
  ASSERT_TRUE(test::WriteBytes(path, bytes));
  auto file = TChunkFile::OpenForReading(path);
  ASSERT_TRUE(file);
  TChunkInfo riff;
  riff.FccType = MakeFourCC('W', 'A', 'V', 'E');
  ASSERT_TRUE(file->Descend(riff, nullptr, TDescend::FindRiff));
  EXPECT_EQ(riff.DataOffset, 8u);
  EXPECT_EQ(file->Position(), 12u);

  TChunkInfo want;
  want.CkId = MakeFourCC('w', 'a', 'n', 't');
  ASSERT_TRUE(file->Descend(want, &riff, TDescend::FindChunk));
  EXPECT_EQ(want.DataOffset, 12u + 8 + 4 + 8);  // past "odd " and its pad byte
  EXPECT_EQ(want.CkSize, 2u);
  ASSERT_TRUE(file->Ascend(want));
  EXPECT_EQ(file->Position(), want.DataOffset + 2);

  // The claiming chunk is entered (its reader judges the size) but cannot be skipped.
  TChunkInfo any;
  ASSERT_TRUE(file->Descend(any, &riff, TDescend::Any));
  EXPECT_EQ(any.CkSize, 1000u);
  TChunkInfo missing;
  missing.CkId = MakeFourCC('n', 'o', 'n', 'e');
  ASSERT_TRUE(file->Seek(want.DataOffset + 2));
  EXPECT_FALSE(file->Descend(missing, &riff, TDescend::FindChunk));
}

TEST_F(ChunkIoTest, AscendPatchesCreatedChunksAndPadsOddSizes) {
  std::string path = Dir + "/w.riff";
  auto file = TChunkFile::OpenForWriting(path);
  ASSERT_TRUE(file);
  TChunkInfo riff;
  riff.CkId = MakeFourCC('R', 'I', 'F', 'F');
  riff.FccType = MakeFourCC('T', 'E', 'S', 'T');
  ASSERT_TRUE(file->CreateChunk(riff));
  TChunkInfo chunk;
  chunk.CkId = MakeFourCC('a', 'b', 'c', 'd');
  ASSERT_TRUE(file->CreateChunk(chunk));
  EXPECT_EQ(chunk.DataOffset, 20u);
  ASSERT_EQ(file->Write("xyz", 3), 3);
  ASSERT_TRUE(file->Ascend(chunk));
  EXPECT_EQ(file->Position(), 24u);
  ASSERT_TRUE(file->Ascend(riff));
  file.reset();
  TBytes b = test::ReadBytes(path);
  const TBytes expected = {'R', 'I', 'F', 'F', 16, 0, 0, 0, 'T', 'E', 'S', 'T',
                           'a', 'b', 'c', 'd', 3,  0, 0, 0, 'x', 'y', 'z', 0};
  EXPECT_EQ(b, expected);
}

TEST_F(ChunkIoTest, ReadStopsAtTheEndAndWritingNeverTruncatesAnOpenInput) {
  std::string path = Dir + "/r.bin";
  ASSERT_TRUE(test::WriteBytes(path, {1, 2, 3, 4, 5}));
  auto in = TChunkFile::OpenForReading(path);
  ASSERT_TRUE(in);
  EXPECT_EQ(in->FileSize(), 5u);
  uint8_t buf[8];
  ASSERT_TRUE(in->Seek(3));
  EXPECT_EQ(in->Read(buf, 8), 2);
  EXPECT_EQ(in->Read(buf, 8), 0);
  EXPECT_FALSE(in->Seek(~0ull));
  EXPECT_FALSE(TChunkFile::OpenForWriting(path));
  EXPECT_EQ(test::ReadBytes(path).size(), 5u);
  in.reset();
  EXPECT_TRUE(TChunkFile::OpenForWriting(path));
  EXPECT_EQ(test::ReadBytes(path).size(), 0u);
}

}  // namespace
}  // namespace klarwell
