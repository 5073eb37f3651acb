// FLAC, AIFF/AIFF-C and RF64/BW64 through klarwell-cli: on every road the repaired samples are those
// of the same audio as WAV, and everything else in the file is kept; bad files fail alone and leave
// nothing behind. FLAC files are made and checked with the flac tools (skipped without them).

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/WavFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/ScratchDirTest.h"

namespace klarwell {
namespace {

using test::TBytes;

const char* const kFlac = "/usr/bin/flac";
const char* const kMetaflac = "/usr/bin/metaflac";

bool HaveFlacTools() {
  return ::access(kFlac, X_OK) == 0 && ::access(kMetaflac, X_OK) == 0;
}

test::TRunResult RunTool(const char* program, const std::vector<std::string>& args) {
  return test::RunChild(program, args);
}

// The frames of a WAV file as its data chunk holds them.
TBytes WavFrames(const std::string& path) {
  TWavRecord rec;
  if (!OpenWav(path, rec)) return {};
  TBytes frames(rec.DataSize);
  std::string msg;
  if (!ReadWavData(rec, frames.data(), 0, static_cast<uint32_t>(frames.size()), msg)) frames.clear();
  return frames;
}

// A FLAC file's samples as little-endian signed integers, decoded by the flac tool.
TBytes FlacSamples(const std::string& path, const std::string& rawPath) {
  if (RunTool(kFlac, {"-s", "-d", "-f", "--force-raw-format", "--endian=little", "--sign=signed", "-o",
                      rawPath, path})
          .Exit != 0)
    return {};
  return test::ReadBytes(rawPath);
}

// What a FLAC file carries besides its samples: the kinds of its blocks in order, its tags, its picture.
std::string FlacMetadata(const std::string& path) {
  std::string kinds;
  const std::string listing = RunTool(kMetaflac, {"--list", path}).Out;
  for (const char* line = listing.c_str(); (line = std::strstr(line, "type: ")); ++line)
    kinds += std::string(line, std::strcspn(line, "\n")) + ";";
  return kinds + RunTool(kMetaflac, {"--export-tags-to=-", path}).Out +
         RunTool(kMetaflac, {"--list", "--block-type=PICTURE,APPLICATION", path}).Out;
}

struct TCase {
  const char* Name;
  const char* Container;  // "flac", "aiff", an AIFF-C compression, "rf64" or "bw64"
  int Bytes;
  bool IsFloat;
  int Channels;
};

const TCase kCases[] = {
    {"flac8", "flac", 1, false, 1},    {"flac16", "flac", 2, false, 2}, {"flac24", "flac", 3, false, 2},
    {"flac32", "flac", 4, false, 1},   {"aiff8", "aiff", 1, false, 2},  {"aiff16", "aiff", 2, false, 1},
    {"aiff24", "aiff", 3, false, 2},   {"aiff32", "aiff", 4, false, 2}, {"aifcfl32", "fl32", 4, true, 2},
    {"aifcsowt", "sowt", 2, false, 2}, {"rf64", "rf64", 2, false, 2},   {"bw64", "bw64", 3, false, 1},
    {"rf64float", "rf64", 4, true, 2},
};

bool IsFlac(const TCase& c) {
  return std::string(c.Container) == "flac";
}
bool IsRf64(const TCase& c) {
  return std::string(c.Container) == "rf64" || std::string(c.Container) == "bw64";
}

const test::TChunkList kAiffBefore = {{"NAME", {'S', 'i', 'd', 'e', ' ', 'A'}}};
const test::TChunkList kAiffAfter = {{"ANNO", {'t', 'r', 'a', 'n', 's', 'f', 'e', 'r'}}, {"APPL", {1, 2, 3}}};
const test::TChunkList kRf64Before = {{"bext", TBytes(602, 7)}, {"LIST", {'I', 'N', 'F', 'O'}}};
const test::TChunkList kRf64After = {{"iXML", {'<', 'x', '/', '>', 0}}};

// The file of a case in its container around the given WAV frames; empty for FLAC.
TBytes Wrap(const TCase& c, const TBytes& frames) {
  const auto channels = static_cast<uint16_t>(c.Channels);
  if (IsRf64(c)) {
    const test::TFmtFields fmt = c.IsFloat ? test::TFmtFields::Float(channels)
                                           : test::TFmtFields::Pcm(channels, static_cast<uint16_t>(c.Bytes));
    return test::MakeRf64(fmt, frames, kRf64Before, kRf64After,
                          std::string(c.Container) == "bw64" ? "BW64" : "RF64");
  }
  if (IsFlac(c)) return {};
  const std::string compression = std::string(c.Container) == "aiff" ? "" : c.Container;
  return test::MakeAiff(channels, c.Bytes, 44100, frames, compression, kAiffBefore, kAiffAfter);
}

std::string Extension(const TCase& c) {
  return IsFlac(c) ? ".flac" : IsRf64(c) ? ".wav" : c.Name[4] == 'c' ? ".aif" : ".aiff";
}

class ContainerTest : public test::TScratchDirTest {};

TEST_F(ContainerTest, EveryContainerAndWidthRepairsAsTheWavRoadAndKeepsTheRest) {
  if (!HaveFlacTools()) GTEST_SKIP() << "flac and metaflac are not installed";
  const std::string cover = Path("cover.png");
  ASSERT_TRUE(test::WriteBytes(cover, TBytes(300, 0x5A)));
  std::vector<std::string> inputs;
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const TCase& c = kCases[i];
    test::TSignal s = test::MakeMusic(2.5, 44100, c.Channels, 40 + i);
    test::AddClicks(s, 6, 4, 30, 4410, 80 + i);
    const std::string wav = Path(std::string(c.Name) + "-pcm.wav");
    ASSERT_TRUE(test::WriteSignalWav(wav, s, c.Bytes, c.IsFloat));
    const std::string in = Path(std::string(c.Name) + Extension(c));
    if (IsFlac(c)) {
      ASSERT_EQ(RunTool(kFlac, {"-s", "-f", "--tag=TITLE=Side A", "--tag=ARTIST=Band",
                                "--picture=3|image/png|cover|1x1x24|" + cover, "-o", in, wav})
                    .Exit,
                0);
    } else {
      ASSERT_TRUE(test::WriteBytes(in, Wrap(c, WavFrames(wav))));
    }
    inputs.push_back(wav);
    inputs.push_back(in);
  }
  const std::vector<std::vector<std::string>> roads = {{}, {"--reference"}, {"--refine"}};
  for (size_t r = 0; r < roads.size(); ++r) {
    const std::string out = Path("out" + std::to_string(r));
    ASSERT_TRUE(std::filesystem::create_directory(out));
    std::vector<std::string> args = {"-q", "-o", out};
    args.insert(args.end(), roads[r].begin(), roads[r].end());
    args.insert(args.end(), inputs.begin(), inputs.end());
    const std::vector<uint64_t> before = [&] {
      std::vector<uint64_t> sums;
      for (const std::string& in : inputs) sums.push_back(test::FileChecksum(in));
      return sums;
    }();
    const test::TRunResult run = RunTool(KLARWELL_CLI, args);
    ASSERT_EQ(run.Exit, 0) << run.Out << run.Err;
    for (size_t i = 0; i < inputs.size(); ++i)
      EXPECT_EQ(test::FileChecksum(inputs[i]), before[i]) << inputs[i];

    for (const TCase& c : kCases) {
      SCOPED_TRACE(std::string(c.Name) + " road " + std::to_string(r));
      TBytes repaired = WavFrames(out + "/" + c.Name + "-pcm #kw2.wav");
      ASSERT_FALSE(repaired.empty());
      const std::string output = out + "/" + c.Name + " #kw2" + Extension(c);
      if (!IsFlac(c)) {
        // Header and trailing chunks as in the input, the samples those of the WAV road.
        EXPECT_TRUE(test::ReadBytes(output) == Wrap(c, repaired));
        continue;
      }
      EXPECT_EQ(RunTool(kFlac, {"-s", "-t", output}).Exit, 0);
      if (c.Bytes == 1)
        for (uint8_t& b : repaired) b ^= 0x80;
      EXPECT_TRUE(FlacSamples(output, Path("decoded.raw")) == repaired);
      EXPECT_EQ(FlacMetadata(output), FlacMetadata(Path(std::string(c.Name) + ".flac")));
    }
  }
}

// Bad files of the new containers: each fails with its message and no output, the others go on.
TEST_F(ContainerTest, BadFilesFailAloneAndLeaveNothing) {
  if (!HaveFlacTools()) GTEST_SKIP() << "flac and metaflac are not installed";
  test::TSignal s = test::MakeMusic(6.0, 44100, 2, 7);
  test::AddClicks(s, 10, 4, 30, 4410, 8);
  const std::string wav = Path("src.wav");
  ASSERT_TRUE(test::WriteSignalWav(wav, s, 2, false));
  const std::string good = Path("good.flac");
  ASSERT_EQ(RunTool(kFlac, {"-s", "-f", "-o", good, wav}).Exit, 0);
  const TBytes flac = test::ReadBytes(good);

  TBytes broken = flac;
  for (size_t i = broken.size() / 2; i < broken.size() / 2 + 64; ++i) broken[i] ^= 0xA5;
  const TBytes truncated(flac.begin(), flac.begin() + static_cast<ptrdiff_t>(flac.size() * 3 / 5));
  test::TFmtFields three = test::TFmtFields::Pcm(3, 2);
  ASSERT_TRUE(test::WriteBytes(Path("three.wav"), test::SimpleWav(three, TBytes(44100 * 6, 1))));
  ASSERT_EQ(
      RunTool(kFlac, {"-s", "-f", "--channel-map=none", "-o", Path("three.flac"), Path("three.wav")}).Exit,
      0);
  const TBytes frames = WavFrames(wav);
  TBytes shortComm = test::MakeAiff(2, 2, 44100, frames);
  shortComm[19] = 10;  // COMM claims 10 bytes, fewer than its fields need
  TBytes rf64 = test::MakeRf64(test::TFmtFields::Pcm(2, 2), frames);
  rf64[32] ^= 0x01;  // ds64's data size runs 4 GiB past the file's end

  struct TBad {
    const char* Name;
    TBytes Bytes;  // empty: made above
    bool Done;
    const char* Status;
    const char* Container;  // as JSON: null for a file that did not open
  } cases[] = {
      {"broken.flac", broken, false, "Broken FLAC frame", "\"flac\""},
      {"truncated.flac", truncated, true, "done", "\"flac\""},
      {"three.flac", {}, false, "Unsupported nr. of channels", "null"},
      {"short-comm.aiff", shortComm, false, "Cannot read format", "null"},
      {"sizes.wav", rf64, false, "RF64 sizes do not match the file", "null"},
  };
  std::vector<std::string> args = {"-q", "--json", "-o", dir_};
  for (const TBad& c : cases) {
    if (!c.Bytes.empty()) {
      ASSERT_TRUE(test::WriteBytes(Path(c.Name), c.Bytes));
    }
    args.push_back(Path(c.Name));
  }
  const test::TRunResult run = RunTool(KLARWELL_CLI, args);
  for (const TBad& c : cases) {
    SCOPED_TRACE(c.Name);
    const size_t at = run.Out.find(Path(c.Name));
    ASSERT_NE(at, std::string::npos) << run.Out;
    const std::string line = run.Out.substr(at, run.Out.find('\n', at) - at);
    EXPECT_NE(line.find(std::string("\"status\":\"") + c.Status + "\""), std::string::npos) << line;
    EXPECT_NE(line.find(std::string("\"container\":") + c.Container + ","), std::string::npos) << line;
    std::string output = Path(c.Name);
    output.insert(output.find_last_of('.'), " #kw2");
    EXPECT_EQ(test::FileExists(output), c.Done);
    if (c.Done) {
      EXPECT_EQ(RunTool(kFlac, {"-s", "-t", output}).Exit, 0);
      EXPECT_NE(line.find("\"warnings\":[\"truncated\"]"), std::string::npos) << line;
    }
  }
}

}  // namespace
}  // namespace klarwell
