// The FLAC, AIFF and RF64 readers behind the WAV interface: what they accept and refuse, and reads
// at any position (the player seeks) giving the frames a WAV of the same audio holds.

#include <gtest/gtest.h>
#include <unistd.h>

#include "audio/WavFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/ScratchDirTest.h"

namespace klarwell {
namespace {

using test::TBytes;

class ContainerFileTest : public test::TScratchDirTest {};

TBytes Frames(const TWavRecord& rec, uint64_t first, uint32_t count) {
  TBytes bytes(size_t{count} * rec.Format.nBlockAlign);
  std::string msg;
  if (!ReadWavData(rec, bytes.data(), first * rec.Format.nBlockAlign, static_cast<uint32_t>(bytes.size()),
                   msg))
    bytes.clear();
  return bytes;
}

TEST_F(ContainerFileTest, FlacReadsAtAnyPositionWhatTheWavHolds) {
  if (::access("/usr/bin/flac", X_OK) != 0) GTEST_SKIP() << "flac is not installed";
  test::TSignal s = test::MakeMusic(5.0, 44100, 2, 3);
  const std::string wav = Path("a.wav"), flac = Path("a.flac");
  ASSERT_TRUE(test::WriteSignalWav(wav, s, 3, false));
  ASSERT_EQ(test::RunChild("/usr/bin/flac", {"-s", "-o", flac, wav}).Exit, 0);
  TWavRecord w, f;
  ASSERT_TRUE(OpenWav(wav, w));
  ASSERT_TRUE(OpenWav(flac, f)) << f.ErrorMsg;
  EXPECT_EQ(f.NumFrames, w.NumFrames);
  EXPECT_FALSE(f.DataCut);
  EXPECT_EQ(WavFormatText(f), "44100/3/FLAC");
  EXPECT_STREQ(ContainerName(f), "flac");
  // Forward with overlap as the engine reads, then back and far ahead as the player seeks.
  const struct {
    uint64_t First;
    uint32_t Count;
  } reads[] = {{0, 88200},      {83790, 88200}, {167580, 3000}, {1000, 500},
               {200000, 20500}, {4096, 4096},   {0, 1}};
  for (const auto& r : reads)
    EXPECT_TRUE(Frames(f, r.First, r.Count) == Frames(w, r.First, r.Count)) << r.First;
  EXPECT_TRUE(Frames(f, w.NumFrames - 10, 11).empty());  // past the end
  EXPECT_TRUE(Frames(f, 10, 20) == Frames(w, 10, 20));   // and on after a failed read
}

// AIFF headers: accepted shapes and the message of each refused one.
TEST_F(ContainerFileTest, AiffHeadersOpenOrFailWithTheirMessage) {
  const TBytes frames(4 * 1000, 0x11);
  const TBytes good = test::MakeAiff(2, 2, 48000, frames);
  auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes, TBytes file) {
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<ptrdiff_t>(at));
    return file;
  };
  // COMM's fields from byte 20: channels, frames, bits, rate (80-bit); SSND's samples from byte 54.
  const struct {
    const char* Name;
    TBytes File;
    const char* Message;  // empty: opens
    uint32_t Frames;
  } cases[] = {
      {"plain", good, "", 1000},
      {"sowt", test::MakeAiff(2, 2, 48000, frames, "sowt"), "", 1000},
      {"float", test::MakeAiff(1, 4, 44100, frames, "fl32"), "", 1000},
      {"cut", TBytes(good.begin(), good.end() - 401), "", 899},
      {"three channels", patched(20, {0, 3}, good), "Unsupported nr. of channels", 0},
      {"no rate", patched(28, {0, 0}, good), "Unsupported format", 0},
      {"33 bits", patched(26, {0, 33}, good), "Unsupported format", 0},
      {"compressed", patched(38, {'i', 'm', 'a', '4'}, test::MakeAiff(2, 2, 48000, frames, "NONE")),
       "Unsupported format", 0},
      {"short COMM", patched(16, {0, 0, 0, 10}, good), "Cannot read format", 0},
      {"no SSND", patched(38, {'X'}, good), "Cannot find data", 0},
  };
  for (const auto& c : cases) {
    const std::string path = Path("x.aiff");
    ASSERT_TRUE(test::WriteBytes(path, c.File));
    TWavRecord rec;
    EXPECT_EQ(OpenWav(path, rec), *c.Message == '\0') << c.Name;
    EXPECT_EQ(rec.ErrorMsg, c.Message) << c.Name;
    if (*c.Message == '\0') {
      EXPECT_EQ(rec.NumFrames, c.Frames) << c.Name;
      EXPECT_EQ(rec.DataCut, c.Frames != 1000) << c.Name;
    }
  }
}

TEST(AudioFileNames, TheFolderScanTakesEveryContainerInAnyCase) {
  for (const char* name : {"a.wav", "b.WAV", "c.flac", "d.Flac", "e.aif", "f.AIFF", "g.x.aiff"})
    EXPECT_TRUE(IsAudioFileName(name)) << name;
  for (const char* name : {"a.ogg", "flac", "b.wav.txt", "c.aifc", "dir.flac/x", ".wavx"})
    EXPECT_FALSE(IsAudioFileName(name)) << name;
}

}  // namespace
}  // namespace klarwell
