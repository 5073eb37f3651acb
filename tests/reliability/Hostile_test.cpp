// Malformed and hostile files through the whole road (ProcessFileParallel): broken size fields, extreme
// sample values and rates, tiny and degenerate signals. Each one either fails with a known message
// and leaves nothing, or gives a complete output that differs from the input only inside the
// repairs the run reported.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>

#include "app/BatchDriver.h"
#include "app/ParallelDriver.h"
#include "app/RunTexts.h"
#include "audio/WavFile.h"
#include "tests/support/SignalGen.h"
#include "tests/support/TestPaths.h"
#include "tests/support/WavBuilder.h"

namespace klarwell {
namespace {

namespace fs = std::filesystem;
using test::TBytes;
using test::TFmtFields;
using test::TWavBuilder;

class TRecorder : public TDriverObserver {
 public:
  void Repair(const TRepairRecord& repair) override { Repairs.push_back(repair); }
  std::vector<TRepairRecord> Repairs;
};

// The sample bytes of an open file's frames.
TBytes FrameBytes(const std::string& path, TWavRecord& rec) {
  TBytes bytes;
  if (!OpenWav(path, rec)) return bytes;
  bytes.resize(static_cast<size_t>(rec.NumFrames) * rec.Format.nBlockAlign);
  std::string msg;
  if (!bytes.empty() && !ReadWavData(rec, bytes.data(), 0, static_cast<uint32_t>(bytes.size()), msg)) bytes.clear();
  CloseWav(rec);
  return bytes;
}

const std::set<std::string> kOpenMessages = {
    "No Wav file",        "Format not found",           "Cannot read format", "Cannot find data",
    "Unsupported format", "Unsupported nr. of channels", "No Data",            "Open error"};

struct THostile {
  const char* Name;
  TBytes Bytes;
  bool MustOpen;  // a file that is merely odd, not broken, must be processed
};

TBytes Samples16(const test::TSignal& s) { return test::EncodeFrames(s, 2, false); }

test::TSignal Music(double seconds, int rate = 44100, int channels = 2) {
  return test::MakeMusic(seconds, rate, channels, 42);
}

std::vector<THostile> HostileFiles() {
  std::vector<THostile> files;
  const TFmtFields stereo = TFmtFields::Pcm(2, 2);
  const TBytes music = Samples16(Music(1.0));
  const TBytes fmt18 = test::FmtPayload(stereo, 18);
  auto build = [&](uint32_t riff, uint32_t fmtClaim, uint32_t dataClaim) {
    TWavBuilder b;
    b.Chunk("fmt ", fmt18, fmtClaim).Data(music, dataClaim).RiffSize(riff);
    return b.Bytes();
  };
  const uint32_t realRiff = static_cast<uint32_t>(4 + 8 + 18 + 8 + music.size());
  const uint32_t sizes[] = {0, 1, 17, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFFE};
  for (uint32_t v : sizes) {
    files.push_back({"riff size", build(v, 18, static_cast<uint32_t>(music.size())), false});
    files.push_back({"fmt size", build(realRiff, v, static_cast<uint32_t>(music.size())), false});
    files.push_back({"data size", build(realRiff, 18, v), false});
    TWavBuilder list;
    list.Fmt(stereo).Chunk("LIST", TBytes{'I', 'N', 'F', 'O', 0, 0}, v).Data(music);
    files.push_back({"LIST size between", list.Bytes(), false});
    TWavBuilder tail;
    tail.Fmt(stereo).Data(music).Chunk("LIST", TBytes{'I', 'N', 'F', 'O', 0, 0}, v);
    files.push_back({"LIST size after data", tail.Bytes(), false});
  }
  files.push_back({"riff size smaller than the file", build(realRiff / 2, 18, static_cast<uint32_t>(music.size())), false});
  files.push_back({"riff size larger than the file", build(realRiff * 3, 18, static_cast<uint32_t>(music.size())), true});
  files.push_back({"odd data size, no pad", [&] {
                     TWavBuilder b;
                     TBytes odd(music.begin(), music.end() - 1);
                     b.Fmt(stereo).Data(odd, {}, false).Chunk("LIST", TBytes{'a', 'b'});
                     return b.Bytes();
                   }(), true});
  // Extreme sample values.
  {
    test::TSignal s = Music(1.0);
    for (auto& ch : s.Channels)
      for (size_t i = 0; i < ch.size(); ++i) ch[i] = (i / 50) % 2 ? 32767.0f : -32768.0f;
    files.push_back({"full-scale square wave", test::SimpleWav(stereo, Samples16(s)), true});
    for (int bytes : {1, 3, 4}) {
      TFmtFields f = TFmtFields::Pcm(2, static_cast<uint16_t>(bytes));
      files.push_back({"full-scale square wave, other widths", test::SimpleWav(f, test::EncodeFrames(s, bytes, false)), true});
    }
  }
  {
    test::TSignal s = Music(1.0);
    TBytes floats = test::EncodeFrames(s, 4, true);
    auto put = [&](size_t sample, float v) { std::memcpy(&floats[sample * 4], &v, 4); };
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (size_t i = 1000; i < floats.size() / 4; i += 7919) put(i, i % 2 ? nan : inf);
    put(0, -inf);
    put(floats.size() / 4 - 1, nan);
    files.push_back({"float with NaN and infinity", test::SimpleWav(TFmtFields::Float(2), floats), true});
    TBytes loud = test::EncodeFrames(s, 4, true);
    for (size_t i = 0; i < loud.size() / 4; i += 3) {
      const float v = i % 2 ? 1e30f : -3.4e38f;
      std::memcpy(&loud[i * 4], &v, 4);
    }
    files.push_back({"float far beyond full scale", test::SimpleWav(TFmtFields::Float(2), loud), true});
  }
  for (int rate : {8000, 192000}) {
    test::TSignal s = Music(1.5, rate);
    test::AddClicks(s, 5, 3, 30, rate / 10, 7);
    files.push_back({"extreme rate", test::SimpleWav(TFmtFields::Pcm(2, 2, static_cast<uint32_t>(rate)), Samples16(s)), true});
  }
  for (int channels = 1; channels <= 2; ++channels) {
    test::TSignal one = Music(1.0 / 44100, 44100, channels);
    files.push_back({"one frame", test::SimpleWav(TFmtFields::Pcm(static_cast<uint16_t>(channels), 2), Samples16(one)), true});
  }
  {
    test::TSignal silence = Music(2.0);
    for (auto& ch : silence.Channels) std::fill(ch.begin(), ch.end(), 0.0f);
    files.push_back({"digital silence", test::SimpleWav(stereo, Samples16(silence)), true});
    test::TSignal edges = Music(2.0);
    for (int c = 0; c < 2; ++c) {
      edges.Channels[c][0] = 30000.0f;
      edges.Channels[c][1] = -28000.0f;
      edges.Channels[c][edges.Channels[c].size() - 1] = -30000.0f;
      edges.Channels[c][edges.Channels[c].size() - 2] = 29000.0f;
    }
    files.push_back({"clicks at the first and last samples", test::SimpleWav(stereo, Samples16(edges)), true});
  }
  return files;
}

// One block at a time and three at once alike.
class HostileInput : public ::testing::TestWithParam<int> {};

TEST_P(HostileInput, EveryHostileFileFailsCleanlyOrChangesOnlyReportedRepairs) {
  const int workers = GetParam();
  const std::string dir = test::MakeTempDir();
  int index = 0;
  for (const THostile& h : HostileFiles()) {
    SCOPED_TRACE(std::string(h.Name) + " #" + std::to_string(index));
    const std::string input = dir + "/in" + std::to_string(index++) + ".wav";
    ASSERT_TRUE(test::WriteBytes(input, h.Bytes));
    TRecorder observer;
    std::atomic<bool> cancel{false};
    TOutputSettings settings;
    settings.Suffix = "-out";
    const std::string output = OutputFileName(input, settings);
    const TFileResult result = ProcessFileParallel(input, settings, observer, cancel, workers);
    EXPECT_EQ(test::ReadBytes(input), h.Bytes) << "the input was changed";
    if (result.Outcome != TFileOutcome::Done) {
      EXPECT_FALSE(h.MustOpen) << StatusText(result);
      EXPECT_TRUE(kOpenMessages.count(StatusText(result))) << StatusText(result);
      EXPECT_FALSE(fs::exists(output));
      continue;
    }
    TWavRecord in, out;
    const TBytes a = FrameBytes(input, in), b = FrameBytes(output, out);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_EQ(in.NumFrames, out.NumFrames);
    const uint32_t align = in.Format.nBlockAlign, bps = in.BytesPerSample;
    int outside = 0;
    for (uint32_t frame = 0; frame < in.NumFrames; ++frame) {
      for (uint32_t c = 0; c < in.Format.nChannels; ++c) {
        const size_t at = static_cast<size_t>(frame) * align + c * bps;
        if (std::memcmp(&a[at], &b[at], bps) == 0) continue;
        bool reported = false;
        for (const TRepairRecord& r : observer.Repairs)
          reported = reported || (r.Channel == static_cast<int>(c) && frame >= r.First && frame <= r.Last);
        if (!reported) ++outside;
      }
    }
    EXPECT_EQ(outside, 0) << "samples changed outside every reported repair";
    fs::remove(output);
  }
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Roads, HostileInput, ::testing::Values(1, 3),
                         [](const auto& info) {
                           return info.param == 1 ? "OneBlockAtATime" : "ThreeBlocksAtOnce";
                         });

}  // namespace
}  // namespace klarwell
