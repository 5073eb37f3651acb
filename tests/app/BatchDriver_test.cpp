// The road of one file through the batch driver: naming, status texts, block stepping, failures
// that must leave no output behind and an input that must stay as it was.

#include "app/BatchDriver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "app/ParallelDriver.h"
#include "app/RunTexts.h"
#include "audio/WavFile.h"
#include "tests/support/SignalGen.h"
#include "tests/support/SignalWav.h"
#include "tests/support/TestPaths.h"
#include "tests/support/WavBuilder.h"
#include "text/LangText.h"

namespace klarwell {
namespace {

namespace fs = std::filesystem;
using test::FileExists;
using test::ReadFileBytes;

class TempDir {
 public:
  TempDir() : path_(test::MakeTempDir()) {}
  ~TempDir() { fs::remove_all(path_); }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Records everything the driver reports.
class TRecorder : public TDriverObserver {
 public:
  std::vector<std::string> Statuses;
  std::vector<std::pair<int64_t, int32_t>> Blocks;
  std::vector<std::pair<float, float>> Density;
  std::vector<TRepairRecord> Repairs;
  std::map<int, std::string> Cells;
  std::function<void()> OnBlock;
  std::function<void()> OnIdle;

  void Status(TFileStatus status, const std::string& message) override {
    Statuses.push_back(StatusText(status, message));
  }
  void Clicks(int64_t total) override { Cells[4] = std::to_string(total); }
  void Finished(double, double elapsed) override { Cells[6] = FormatSeconds(elapsed); }
  void DensityPoint(float x, float y) override { Density.push_back({x, y}); }
  void BlockDone(int64_t position, int32_t clicks) override {
    Blocks.push_back({position, clicks});
    if (OnBlock) OnBlock();
  }
  void Idle() override {
    if (OnIdle) OnIdle();
  }
  void Repair(const TRepairRecord& r) override { Repairs.push_back(r); }
};

TFileResult RunFile(const std::string& path, TDriverObserver& obs, const TOutputSettings& settings = {},
                    const TEngineOptions& engine = {}) {
  std::atomic<bool> cancel{false};
  return ProcessFileParallel(path, settings, obs, cancel, 1, engine);
}

class BatchDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLanguage(TLanguage::English); }
  void TearDown() override { SetLanguage(TLanguage::English); }
};

TEST_F(BatchDriverTest, OutputNamesReplaceTheExtensionAndHonourTheDirectory) {
  TempDir dir;
  struct Case {
    std::string input, suffix, outDir, expected;
  } cases[] = {
      {"/rec/song.wav", " #kw2", "", "/rec/song #kw2.wav"},
      {"/rec/song", " #kw2", "", "/rec/song #kw2.wav"},                      // no extension: appended
      {"/rec/side a.x.wav", " #kw2", "", "/rec/side a.x #kw2.wav"},          // only the last dot counts
      {"/rec.d/song", " #kw2", "", "/rec.d/song #kw2.wav"},                  // a dot in a folder is no extension
      {"/rec/song.wav", " #kw2", dir.Path(), dir.Path() + "/song #kw2.wav"},
      {"/rec/song.wav", "", dir.Path(), dir.Path() + "/song.wav"},            // empty suffix keeps the name
      {"/rec/song.wav", "   ", dir.Path(), dir.Path() + "/song.wav"},         // blank counts as empty
      {"/rec/song.wav", " #kw2", dir.Path() + "/", dir.Path() + "//song #kw2.wav"},  // used as typed
      {"/rec/song.wav", "_x", "/no/such/dir", "/rec/song_x.wav"},             // a missing folder is ignored
      {"/rec/song.FLAC", " #kw2", "", "/rec/song #kw2.FLAC"},                // other containers keep theirs
      {"/rec/song.aif", " #kw2", "", "/rec/song #kw2.aif"},
      {"/rec/song.Aiff", " #kw2", "", "/rec/song #kw2.Aiff"},
      {"/rec/song.WAV", " #kw2", "", "/rec/song #kw2.wav"},
      {"/rec/song.ogg", " #kw2", "", "/rec/song #kw2.wav"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OutputFileName(c.input, {c.suffix, c.outDir}), c.expected) << c.input << " [" << c.suffix << "]";
  }
  EXPECT_TRUE(OutputSettingsUsable({" #kw2", ""}));
  EXPECT_TRUE(OutputSettingsUsable({"", dir.Path()}));
  EXPECT_FALSE(OutputSettingsUsable({"  ", "/no/such/dir"}));
}

TEST_F(BatchDriverTest, ClicksPerSecondHasTwoDecimalsFiveDigitsAndTheLocaleSeparator) {
  struct Case {
    double value;
    char point;
    const char* expected;
  } cases[] = {
      {1.25, '.', "1.25"},  {1.25, ',', "1,25"},       {0.0, '.', "0.00"},        {0.005, '.', "0.01"},
      {2.0 / 3, '.', "0.67"}, {1234.567, '.', "1234.60"}, {12345.678, ',', "12346,00"}, {123456.0, '.', "1.2346E5"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatClicksPerSec(c.value, c.point), c.expected) << c.value;
}

TEST_F(BatchDriverTest, ShortFileIsOneBlockWithOneDensityPointAndAFullOutput) {
  TempDir dir;
  const std::string in = dir / "short.wav";
  test::TSignal s = test::MakeMusic(1.5, 44100, 2, 1);
  ASSERT_TRUE(test::WriteSignalWav(in, s, 2, false));
  const std::string before = ReadFileBytes(in);

  TRecorder rec;
  TFileResult r = RunFile(in, rec);
  EXPECT_EQ(r.Outcome, TFileOutcome::Done) << StatusText(r);
  EXPECT_EQ(rec.Statuses, (std::vector<std::string>{"open", "create file", "initialize", "running", "done"}));
  ASSERT_EQ(rec.Blocks.size(), 1u);
  EXPECT_EQ(rec.Blocks[0].first, 0);
  EXPECT_EQ(rec.Density.size(), 1u);
  EXPECT_EQ(r.OutputPath, dir / "short #kw2.wav");
  EXPECT_EQ(ReadFileBytes(in), before);

  TWavRecord out;
  ASSERT_TRUE(OpenWav(r.OutputPath, out));
  EXPECT_EQ(out.NumFrames, s.Frames());
  EXPECT_EQ(rec.Cells[4], std::to_string(r.Clicks));
  EXPECT_FALSE(rec.Cells[6].empty());
}

TEST_F(BatchDriverTest, BlockEndingOneFrameBeforeTheEndIsFollowedByOneMovedBack) {
  TempDir dir;
  const std::string in = dir / "edge.wav";
  // 44.1 kHz: blocks of 88200 frames stepping by 83790. With 88201 frames the first block ends one
  // frame before the end, so a second block follows, moved back to frame 1.
  test::TSignal s = test::MakeNoise(88201.0 / 44100, 44100, 1, 300.0, 3000.0, 5);
  s.Channels[0].resize(88201);
  ASSERT_TRUE(test::WriteSignalWav(in, s, 2, false));
  TRecorder rec;
  TFileResult r = RunFile(in, rec);
  ASSERT_EQ(r.Outcome, TFileOutcome::Done) << StatusText(r);
  ASSERT_EQ(rec.Blocks.size(), 2u);
  EXPECT_EQ(rec.Blocks[0].first, 0);
  EXPECT_EQ(rec.Blocks[1].first, 1);
  TWavRecord out;
  ASSERT_TRUE(OpenWav(r.OutputPath, out));
  EXPECT_EQ(out.NumFrames, 88201u);
  // Noise without clicks comes back unchanged, byte for byte, header and all.
  EXPECT_EQ(ReadFileBytes(r.OutputPath), ReadFileBytes(in));
}

TEST_F(BatchDriverTest, LongerFileStepsByBlockMinusOverlapAndEndsAtTheLastFrame) {
  TempDir dir;
  const std::string in = dir / "long.wav";
  test::TSignal s = test::MakeNoise(7.3, 44100, 2, 200.0, 2000.0, 9);
  ASSERT_TRUE(test::WriteSignalWav(in, s, 2, false));
  TRecorder rec;
  TFileResult r = RunFile(in, rec);
  ASSERT_EQ(r.Outcome, TFileOutcome::Done) << StatusText(r);
  const int64_t frames = s.Frames();
  std::vector<int64_t> expected;
  for (int64_t p = 0;; p += 83790) {
    if (p + 88200 > frames) p = frames - 88200;
    expected.push_back(p);
    if (p + 88200 >= frames) break;
  }
  std::vector<int64_t> got;
  for (auto& b : rec.Blocks) got.push_back(b.first);
  EXPECT_EQ(got, expected);
  ASSERT_EQ(rec.Density.size(), expected.size());
  EXPECT_FLOAT_EQ(rec.Density[1].first, static_cast<float>(83790.0 / 44100 / 60));
}

TEST_F(BatchDriverTest, OutputOntoTheInputItselfFailsAtCreateAndLeavesTheInput) {
  TempDir dir;
  const std::string in = dir / "take.wav";
  ASSERT_TRUE(test::WriteSignalWav(in, test::MakeMusic(0.5, 44100, 2, 3), 2, false));
  const std::string before = ReadFileBytes(in);
  TRecorder rec;
  TFileResult r = RunFile(in, rec, {"", dir.Path()});
  EXPECT_EQ(r.Outcome, TFileOutcome::Failed);
  EXPECT_EQ(StatusText(r), "Create error");
  EXPECT_EQ(ReadFileBytes(in), before);
}

TEST_F(BatchDriverTest, UnreadableInputGivesTheOpenMessageAndNoOutput) {
  TempDir dir;
  const std::string in = dir / "junk.wav";
  std::ofstream(in) << "this is not a wave file at all";
  TRecorder rec;
  TFileResult r = RunFile(in, rec);
  EXPECT_EQ(r.Outcome, TFileOutcome::Failed);
  EXPECT_EQ(StatusText(r), "No Wav file");
  EXPECT_FALSE(FileExists(dir / "junk #kw2.wav"));
  EXPECT_EQ(StatusText(RunFile(dir / "missing.wav", rec)), "Open error");
}

TEST_F(BatchDriverTest, InputCutDuringTheRunFailsThatFileOnlyAndDeletesItsOutput) {
  TempDir dir;
  const std::string in = dir / "shrinks.wav";
  ASSERT_TRUE(test::WriteSignalWav(in, test::MakeNoise(5.0, 44100, 2, 200.0, 2000.0, 4), 2, false));
  TRecorder rec;
  rec.OnBlock = [&] { ASSERT_EQ(::truncate(in.c_str(), 1000), 0); };
  TFileResult r = RunFile(in, rec);
  EXPECT_EQ(r.Outcome, TFileOutcome::Failed);
  EXPECT_EQ(StatusText(r), "Faild to read data");
  EXPECT_EQ(r.Status, TFileStatus::ReadError);
  EXPECT_FALSE(FileExists(dir / "shrinks #kw2.wav"));

  // The next file is processed as usual.
  const std::string next = dir / "next.wav";
  ASSERT_TRUE(test::WriteSignalWav(next, test::MakeNoise(1.0, 44100, 1, 200.0, 2000.0, 4), 2, false));
  TRecorder rec2;
  EXPECT_EQ(RunFile(next, rec2).Outcome, TFileOutcome::Done);
}

TEST_F(BatchDriverTest, CancelDuringABlockEndsCancelledWithoutOutput) {
  TempDir dir;
  const std::string in = dir / "cancel.wav";
  ASSERT_TRUE(test::WriteSignalWav(in, test::MakeMusic(5.0, 44100, 2, 8), 2, false));
  const std::string before = ReadFileBytes(in);
  std::atomic<bool> cancel{false};
  TRecorder rec;
  // The cancel comes while a block computes: the first one, or (when the driver found the first one
  // done already) the one dispatched after it.
  rec.OnIdle = [&] { cancel = true; };
  TFileResult r = ProcessFileParallel(in, {}, rec, cancel, 1);
  EXPECT_EQ(r.Outcome, TFileOutcome::Cancelled);
  EXPECT_EQ(StatusText(r), "cancelled");
  EXPECT_EQ(r.Status, TFileStatus::Cancelled);
  EXPECT_LE(rec.Blocks.size(), 1u);
  EXPECT_FALSE(FileExists(dir / "cancel #kw2.wav"));
  EXPECT_EQ(ReadFileBytes(in), before);
}

TEST_F(BatchDriverTest, SecondRunOverwritesTheOutput) {
  TempDir dir;
  const std::string in = dir / "again.wav";
  ASSERT_TRUE(test::WriteSignalWav(in, test::MakeMusic(1.0, 44100, 2, 2), 2, false));
  std::ofstream(dir / "again #kw2.wav") << "stale";
  TRecorder rec;
  TFileResult r = RunFile(in, rec);
  ASSERT_EQ(r.Outcome, TFileOutcome::Done);
  TWavRecord out;
  EXPECT_TRUE(OpenWav(r.OutputPath, out));
}

TEST_F(BatchDriverTest, StatusTextsFollowTheLanguage) {
  SetLanguage(TLanguage::German);
  TempDir dir;
  const std::string in = dir / "de.wav";
  ASSERT_TRUE(test::WriteSignalWav(in, test::MakeNoise(0.5, 44100, 1, 100.0, 2000.0, 1), 2, false));
  TRecorder rec;
  RunFile(in, rec);
  EXPECT_EQ(rec.Statuses, (std::vector<std::string>{"öffne", "erzeuge Datei", "initialisiere", "läuft", "fertig"}));
  EXPECT_EQ(StatusText(RunFile(dir / "missing.wav", rec)), "Fehler beim Öffnen");
  EXPECT_EQ(MissingOutputText(), "Es muß ein Dateisuffix oder ein Ausgabeverzeichnis angegeben werden.");
}

// Scripts and the window tell outcomes apart by the code, and the user learns why a call failed.
// Both roads must end alike.
TEST_F(BatchDriverTest, EveryEndOfTheRoadCarriesItsCodeAndTheSystemsReason) {
  TempDir dir;
  ASSERT_TRUE(test::WriteSignalWav(dir / "pcm.wav", test::MakeMusic(0.5, 44100, 2, 1), 3, false));
  ASSERT_TRUE(test::WriteSignalWav(dir / "float.wav", test::MakeMusic(0.5, 44100, 1, 2), 4, true));
  ASSERT_TRUE(test::WriteSignalWav(dir / "slow.wav", test::MakeMusic(0.5, 4000, 1, 3), 2, false));
  std::ofstream(dir / "junk.wav") << "this is not a wave file at all";
  fs::create_directory(dir / "folder.wav");
  struct Case {
    std::string input, output;
    TFileStatus code;
    std::string reason;
    uint32_t bits;
    bool isFloat;
  } cases[] = {
      {dir / "missing.wav", dir / "o1.wav", TFileStatus::OpenError, "No such file or directory", 0, false},
      {dir / "folder.wav", dir / "o2.wav", TFileStatus::OpenError, "Is a directory", 0, false},
      {dir / "junk.wav", dir / "o3.wav", TFileStatus::OpenError, "", 0, false},
      {dir / "pcm.wav", dir / "no/such/o4.wav", TFileStatus::CreateError, "No such file or directory", 24,
       false},
      {dir / "pcm.wav", dir / "pcm.wav", TFileStatus::CreateError, "", 24, false},  // refused by the program
      {dir / "slow.wav", dir / "o6.wav", TFileStatus::EngineError, "", 16, false},
      {dir / "pcm.wav", dir / "o7.wav", TFileStatus::Done, "", 24, false},
      {dir / "float.wav", dir / "o8.wav", TFileStatus::Done, "", 32, true},
  };
  for (const Case& c : cases) {
    for (int workers : {1, 2}) {
      SCOPED_TRACE(c.input + " -> " + c.output + ", workers " + std::to_string(workers));
      std::atomic<bool> cancel{false};
      TRecorder rec;
      const TFileResult r = ProcessFileParallelTo(c.input, c.output, rec, cancel, workers);
      EXPECT_EQ(r.Status, c.code) << StatusText(r);
      EXPECT_EQ(r.Reason, c.reason);
      EXPECT_EQ(r.BitsPerSample, c.bits);
      EXPECT_EQ(r.FloatFormat, c.isFloat);
      EXPECT_EQ(r.OutputPath, c.code == TFileStatus::Done ? c.output : "");
    }
  }
}

// Every supported format: the output keeps the input's header and trailing chunks, and differs
// from the input only inside the reported repairs; counted repairs add up to the click total.
TEST_F(BatchDriverTest, OutputsDifferFromInputsOnlyInsideReportedRepairs) {
  struct Format {
    int bytes;
    bool isFloat;
    int channels;
    bool refine;  // the refined mode moves the spans: the reports must move with them
  } formats[] = {{1, false, 2, false}, {2, false, 2, false}, {2, false, 1, false}, {3, false, 2, false},
                 {4, false, 1, false}, {4, true, 2, false},  {2, false, 2, true},  {4, true, 1, true}};
  for (const Format& f : formats) {
    SCOPED_TRACE(testing::Message() << f.bytes << " bytes, float " << f.isFloat << ", " << f.channels << " ch"
                                    << (f.refine ? ", refined" : ""));
    TempDir dir;
    const std::string in = dir / "clicks.wav";
    test::TSignal s = test::MakeMusic(3.0, 44100, f.channels, 11);
    test::AddClicks(s, 8, 4, 40, 4410, 12);
    ASSERT_TRUE(test::WriteSignalWav(in, s, f.bytes, f.isFloat));
    const std::string before = ReadFileBytes(in);
    TRecorder rec;
    TFileResult r = RunFile(in, rec, {}, {f.refine});
    ASSERT_EQ(r.Outcome, TFileOutcome::Done) << StatusText(r);
    EXPECT_EQ(ReadFileBytes(in), before);
    const std::string after = ReadFileBytes(r.OutputPath);
    ASSERT_EQ(after.size(), before.size());

    int counted = 0;
    for (const TRepairRecord& rep : rec.Repairs) {
      counted += rep.Counted;
      EXPECT_EQ(rep.Refined, f.refine);
    }
    EXPECT_EQ(counted, r.Clicks);

    TWavRecord probe;
    ASSERT_TRUE(OpenWav(in, probe));
    const size_t dataOffset = probe.DataOffset, align = probe.Format.nBlockAlign;
    const size_t width = probe.BytesPerSample;
    EXPECT_EQ(after.substr(0, dataOffset), before.substr(0, dataOffset));
    for (size_t byte = dataOffset; byte < before.size(); ++byte) {
      if (before[byte] == after[byte]) continue;
      const size_t frame = (byte - dataOffset) / align;
      const int channel = static_cast<int>(((byte - dataOffset) % align) / width);
      bool inside = false;
      for (const TRepairRecord& rep : rec.Repairs)
        inside |= rep.Channel == channel && static_cast<int64_t>(frame) >= rep.First &&
                  static_cast<int64_t>(frame) <= rep.Last;
      ASSERT_TRUE(inside) << "byte " << byte << " (frame " << frame << ", channel " << channel
                          << ") changed outside every repair";
    }
  }
}

// An extensible 24-bit file with a bext before its fmt, a LIST between fmt and data and an odd-sized
// chunk after the data: on both roads the output keeps every one of them byte for byte in its place,
// writes its own 40-byte fmt where the input's stood, and opens again with its data where it is.
TEST_F(BatchDriverTest, TrailingChunksAreCopiedAndTheHeaderIsRewritten) {
  TempDir dir;
  const std::string in = dir / "ext.wav";
  test::TSignal s = test::MakeMusic(1.0, 48000, 2, 31);
  test::AddClicks(s, 3, 5, 30, 4800, 32);
  const test::TBytes samples = [&] {
    std::vector<uint8_t> v = test::EncodeFrames(s, 3, false);
    return test::TBytes(v.begin(), v.end());
  }();
  const std::string bext(602, 'b');
  const test::TBytes tail = {'n', 'o', 't', 'e', 's', '!', 0x7F};
  test::TWavBuilder b;
  b.Chunk("bext", test::TBytes(bext.begin(), bext.end()))
      .Fmt(test::TFmtFields::Extensible(2, 3, false, 48000))
      .Chunk("LIST", test::TBytes(10, 'x'))
      .Data(samples)
      .Chunk("smpl", tail);
  ASSERT_TRUE(b.WriteFile(in));
  TRecorder rec;
  TFileResult r = RunFile(in, rec);
  ASSERT_EQ(r.Outcome, TFileOutcome::Done) << StatusText(r);
  const std::string out = ReadFileBytes(r.OutputPath);
  // RIFF, WAVE, the bext, a 40-byte fmt chunk, the LIST, then data.
  const size_t fmtAt = 12 + 8 + bext.size();
  const size_t listAt = fmtAt + 48;
  const size_t dataOffset = listAt + 18 + 8;
  ASSERT_GT(out.size(), dataOffset + samples.size());
  EXPECT_EQ(out.substr(0, 4), "RIFF");
  EXPECT_EQ(out.substr(12, 8 + bext.size()), std::string("bext\x5a\x02\x00\x00", 8) + bext);
  EXPECT_EQ(out.substr(fmtAt, 8), std::string("fmt \x28\x00\x00\x00", 8));
  EXPECT_EQ(out.substr(fmtAt + 24, 2), std::string("\x16\x00", 2));  // cbSize 22
  EXPECT_EQ(out.substr(listAt, 18), std::string("LIST\x0a\x00\x00\x00", 8) + std::string(10, 'x'));
  EXPECT_EQ(out.substr(dataOffset - 8, 4), "data");
  const size_t tailAt = dataOffset + samples.size() + (samples.size() & 1);
  EXPECT_EQ(out.substr(tailAt, 4), "smpl");
  EXPECT_EQ(out.substr(tailAt + 8, tail.size()), std::string(tail.begin(), tail.end()));
  const uint32_t riffSize = static_cast<uint8_t>(out[4]) | static_cast<uint8_t>(out[5]) << 8 |
                            static_cast<uint8_t>(out[6]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(out[7])) << 24;
  // The tail ends without its pad, so the RIFF size is odd and the file ends with a pad byte.
  EXPECT_EQ(riffSize + 8 + (riffSize & 1), out.size());
  EXPECT_GT(r.Clicks, 0);
  TWavRecord again;
  ASSERT_TRUE(OpenWav(r.OutputPath, again)) << again.ErrorMsg;
  EXPECT_EQ(again.DataOffset, dataOffset);
  EXPECT_EQ(again.NumFrames, samples.size() / 6);
  CloseWav(again);

  fs::remove(r.OutputPath);
  TRecorder parallelRec;
  std::atomic<bool> cancel{false};
  TFileResult p = ProcessFileParallel(in, {}, parallelRec, cancel, 3);
  ASSERT_EQ(p.Outcome, TFileOutcome::Done) << StatusText(p);
  EXPECT_EQ(ReadFileBytes(p.OutputPath), out) << "the parallel road writes the same bytes";
}

// The parallel road keeps a click only when asked, one per request, and hands it over when its block
// is resolved. Catches an extract delivered out of block order, taken from the wrong channel or place,
// taken after the repair instead of before, or offset from its repair.
TEST_F(BatchDriverTest, ParallelRoadDeliversRequestedClicksInBlockOrder) {
  TempDir dir;
  const std::string in = dir / "clicks.wav";
  test::TSignal s = test::MakeMusic(9.0, 44100, 2, 41);
  const std::vector<test::TClick> clicks = test::AddClicks(s, 30, 4, 40, 44100 / 4, 42);
  ASSERT_TRUE(test::WriteSignalWav(in, s, 2, false));
  const std::string bytes = ReadFileBytes(in);
  TWavRecord probe;
  ASSERT_TRUE(OpenWav(in, probe));
  const size_t dataOffset = probe.DataOffset;
  CloseWav(probe);
  auto inputSample = [&](int64_t frame, int channel) {
    const size_t at = dataOffset + static_cast<size_t>(frame * 4 + channel * 2);
    return static_cast<float>(
        static_cast<int16_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8));
  };

  struct TExtractSeen : TRecorder {
    std::atomic<bool> Request{true};
    std::vector<TClickExtract> Extracts;
    std::vector<size_t> BlocksBefore;  // blocks resolved before each extract arrived
    std::atomic<bool>* ExtractRequest() override { return &Request; }
    void ClickExtract(const TClickExtract& e) override {
      EXPECT_FALSE(Request.load()) << "a click kept without a request";
      Extracts.push_back(e);
      BlocksBefore.push_back(Blocks.size());
      Request = true;
    }
  } rec;
  std::atomic<bool> cancel{false};
  const TFileResult r = ProcessFileParallel(in, {}, rec, cancel, 2);
  ASSERT_EQ(r.Outcome, TFileOutcome::Done) << StatusText(r);
  ASSERT_GE(rec.Extracts.size(), 2u);  // one request at a time: how many depends on the workers

  for (size_t k = 0; k < rec.Extracts.size(); ++k) {
    const TClickExtract& e = rec.Extracts[k];
    SCOPED_TRACE(testing::Message() << "extract " << k << " at frame " << e.RegionFrame);
    const int64_t size = static_cast<int64_t>(e.Before.size());
    ASSERT_EQ(e.Trace.size(), e.Before.size());
    // The block resolved next is the one the click lies in.
    ASSERT_LT(rec.BlocksBefore[k], rec.Blocks.size());
    const int64_t block = rec.Blocks[rec.BlocksBefore[k]].first;
    EXPECT_TRUE(e.RegionFrame >= block && e.RegionFrame + size <= block + 2 * 44100);
    // Its repair is one the driver reported, and changed what it claims to have changed.
    int reported = 0, changed = 0;  // the same span may be repaired again in a later pass
    for (const TRepairRecord& rep : rec.Repairs)
      if (rep.Channel == e.Channel && rep.First == e.RegionFrame + e.RepairOffset + 1 &&
          rep.Last == rep.First + static_cast<int64_t>(e.Repaired.size()) - 3)
        ++reported, changed += rep.Changed;
    ASSERT_GT(reported, 0);
    bool differs = false;
    for (size_t j = 0; j < e.Repaired.size(); ++j)
      differs |= e.Repaired[j] != e.Before[static_cast<size_t>(e.RepairOffset) + j];
    if (changed == reported) {
      EXPECT_TRUE(differs);
    }
    bool known = false;
    for (const test::TClick& c : clicks)
      known |= c.Channel == e.Channel && c.Frame < e.RegionFrame + size && c.Frame + c.Width > e.RegionFrame;
    EXPECT_TRUE(known) << "no click was put there";
    // Before the repair the region holds the input, except where an earlier repair has been.
    for (int64_t i = 0; i < size; ++i) {
      bool repaired = false;
      for (const TRepairRecord& rep : rec.Repairs)
        repaired |=
            rep.Channel == e.Channel && e.RegionFrame + i >= rep.First && e.RegionFrame + i <= rep.Last;
      if (!repaired) {
        ASSERT_EQ(e.Before[static_cast<size_t>(i)], inputSample(e.RegionFrame + i, e.Channel)) << i;
      }
    }
  }
}

}  // namespace
}  // namespace klarwell
