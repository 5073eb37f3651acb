// The bodies of the fuzz targets, also linked into the ordinary tests that replay old crashers.

#include "fuzz/FuzzEntries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/BatchDriver.h"
#include "app/ParallelDriver.h"
#include "audio/SampleCodec.h"
#include "audio/WavFile.h"
#include "engine/CandidateSearch.h"
#include "engine/ClickLocation.h"
#include "engine/ClickRepair.h"
#include "engine/EngineSizes.h"
#include "engine/PassCache.h"
#include "engine/SpanRefine.h"
#include "engine/TickSearch.h"
#include "engine/engine.h"

namespace klarwell::fuzz {
namespace {

// A private scratch directory per process, made once (fuzzers run one input after another).
const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string t = std::string(tmp && *tmp ? tmp : "/tmp") + "/klarwell-fuzz-XXXXXX";
    std::vector<char> buf(t.begin(), t.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) std::abort();
    return std::string(buf.data());
  }();
  return dir;
}

bool WriteAll(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return done == size;
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

int OpenAndReadAll(const uint8_t* data, size_t size) {
  const std::string path = ScratchDir() + "/open.wav";
  if (!WriteAll(path, data, size)) std::abort();
  TWavRecord rec;
  if (OpenWav(path, rec)) {
    const uint32_t align = rec.Format.nBlockAlign;
    Check(align > 0 && rec.BytesPerSample > 0, "accepted file without a frame size");
    Check(rec.Format.nChannels == 1 || rec.Format.nChannels == 2, "accepted channel count");
    // A FLAC stream's samples are decoded, not stored: they may well exceed the file.
    Check(rec.Container == TContainer::Flac || rec.DataOffset + rec.DataSize <= size,
          "data beyond the end of the file");
    Check(static_cast<uint64_t>(rec.NumFrames) * align <= rec.DataSize, "frames beyond the data");
    (void)WavFormatText(rec);
    (void)WavDurationText(rec);
    // Blocks of a few frames, the last one short, as the engine and the player read them.
    const uint32_t blockBytes = align * 37;
    std::vector<uint8_t> buffer(blockBytes);
    const uint64_t total = static_cast<uint64_t>(rec.NumFrames) * align;
    std::string msg;
    for (uint64_t pos = 0; pos < total; pos += blockBytes) {
      const auto count = static_cast<uint32_t>(std::min<uint64_t>(blockBytes, total - pos));
      // A FLAC frame that does not decode is only found when it is read: that read fails, with its
      // message, and the reads after it start afresh.
      Check(ReadWavData(rec, buffer.data(), pos, count, msg) ||
                (rec.Container == TContainer::Flac && !msg.empty()),
            "a frame inside the data cannot be read");
    }
    // Reading past the frames must fail cleanly, never fill the buffer from elsewhere.
    if (rec.DataOffset + total + blockBytes > size) {
      (void)ReadWavData(rec, buffer.data(), total, blockBytes, msg);
    }
    CloseWav(rec);
  }
  ::unlink(path.c_str());
  return 0;
}

int OpenContainerAndReadAll(const uint8_t* data, size_t size, const char magic[4]) {
  std::vector<uint8_t> bytes(data, data + size);
  if (bytes.size() < 4) bytes.resize(4);
  std::copy(magic, magic + 4, bytes.begin());
  return OpenAndReadAll(bytes.data(), bytes.size());
}

int ProcessWholeRoad(const uint8_t* data, size_t size) {
  if (size > 256 * 1024) return 0;
  const std::string dir = ScratchDir();
  const std::string input = dir + "/road.wav";
  if (!WriteAll(input, data, size)) std::abort();
  TOutputSettings settings;
  settings.Suffix = "-out";
  const std::string output = OutputFileName(input, settings);
  TDriverObserver observer;
  std::atomic<bool> cancel{false};
  const TFileResult result = ProcessFileParallel(input, settings, observer, cancel, 1);
  struct stat st {};
  const bool outputExists = ::stat(output.c_str(), &st) == 0;
  if (result.Outcome == TFileOutcome::Done) {
    Check(outputExists && result.OutputPath == output, "a finished road without its output");
    TWavRecord in, out;
    Check(OpenWav(input, in), "the input no longer opens");
    Check(OpenWav(output, out), "the finished output does not open");
    Check(out.Format.nChannels == in.Format.nChannels && out.Format.nBlockAlign == in.Format.nBlockAlign &&
              out.Format.nSamplesPerSec == in.Format.nSamplesPerSec &&
              out.Format.wFormatTag == in.Format.wFormatTag,
          "the output's format differs from the input's");
    Check(out.NumFrames == in.NumFrames, "the output's length differs from the input's");
    Check(FileSize(input) == size, "the input changed");
    CloseWav(in);
    CloseWav(out);
  } else {
    Check(!outputExists, "a failed road left its output behind");
  }
  ::unlink(output.c_str());
  ::unlink(input.c_str());
  return 0;
}

namespace {

// The stage target's block: 44.1 kHz mono 16-bit, 4096 frames, room for a region (441 samples)
// with the repair's context on both sides anywhere in its middle.
constexpr uint32_t kStageFrames = 4096;

TWavRecord StageFormat() {
  TWavRecord rec;
  rec.Format.wFormatTag = WaveFormatPcm;
  rec.Format.nChannels = 1;
  rec.Format.nSamplesPerSec = 44100;
  rec.Format.nBlockAlign = 2;
  rec.Format.nAvgBytesPerSec = 88200;
  rec.Format.wBitsPerSample = 16;
  rec.BytesPerSample = 2;
  rec.NumFrames = kStageFrames;
  return rec;
}

// The stages and the block they work on, set up once: the target runs one input after another.
struct TStageRig {
  TWavRecord Format = StageFormat();
  TEngineSizes Sizes = MakeEngineSizes(Format, -120, TClickEngine::BlockSeconds);
  TClickLocation Location;
  TSpanRefiner Refiner;
  TTickSearch Ticks;
  TClickRepair Repair;
  TPassCache Cache;  // never active: the stages run outside a block's passes
  std::vector<uint8_t> Input = std::vector<uint8_t>(kStageFrames * 2);
  std::vector<uint8_t> Bytes = std::vector<uint8_t>(kStageFrames * 2);
  std::vector<float> Left = std::vector<float>(kStageFrames), Right = std::vector<float>(kStageFrames);
  std::vector<float> Trace = std::vector<float>(kStageFrames);
  TStageRig() {
    Location.Prepare(Sizes);
    Refiner.Prepare(Sizes, true);
    Ticks.Prepare(Sizes);
    Repair.Prepare(Sizes, RoutinesOf(TRoutineSet::Fast));
    Cache.Allocate(0, 0, 0, 0, 0);
  }
};

}  // namespace

int DriveClickStages(const uint8_t* data, size_t size) {
  static TStageRig rig;
  if (size < 8) return 0;
  const bool refined = (data[0] & 1) != 0;
  const int32_t regionLen = rig.Sizes.RegionLen;
  const int32_t regionStart = static_cast<int32_t>((data[1] | data[2] << 8) % kStageFrames);
  if (!TCandidateSearch::RegionFits(rig.Sizes, regionStart)) return 0;
  // The samples repeat the input's bytes; the region's trace is made of them too, in units of a dB sum.
  for (size_t i = 0; i < rig.Input.size(); ++i) rig.Input[i] = data[(4 + i) % size];
  rig.Bytes = rig.Input;
  DecodeFrames(kStageFrames, rig.Bytes.data(), rig.Format, rig.Sizes.SampleScale, rig.Left.data(),
               rig.Right.data());
  for (int32_t i = 0; i < regionLen; ++i)
    rig.Trace[static_cast<size_t>(regionStart + i)] =
        static_cast<float>(static_cast<int8_t>(data[(static_cast<size_t>(i) * 7 + 5) % size])) * 50.0f;

  TClickSpan span;
  if (refined && (data[0] & 2) != 0) {
    // The refined mode's tick search: every span it hands on lies inside its region, inside the block.
    const int32_t ticks = rig.Ticks.Process(rig.Left.data(), rig.Right.data(), 0);
    for (int32_t i = 0; i < ticks; ++i) {
      const TClickSpan& t = rig.Ticks.Span(0, i);
      if (t.RegionStart < 0 || t.RegionStart + regionLen >= rig.Sizes.BlockFrames || t.RepairEnd - t.RepairStart < 3 ||
          t.RepairStart <= t.RegionStart || t.RepairEnd >= t.RegionStart + regionLen)
        std::abort();
    }
    if (ticks == 0) return 0;
    span = rig.Ticks.Span(0, data[3] % ticks);
    // The span's end as the engine chooses it: never before the tick's own, never past its reach.
    const int32_t end = rig.Refiner.ChooseEnd(rig.Left.data(), span.RepairStart, rig.Ticks.Decayed(span),
                                              span.RepairEnd, rig.Ticks.LongestEnd(span),
                                              rig.Ticks.Sigma(0, span.Position));
    if (end >= 0 && (end < span.RepairEnd || end > std::max(span.RepairEnd, rig.Ticks.LongestEnd(span))))
      std::abort();
    span.Modelled = end >= 0;
    if (end >= 0) span.RepairEnd = end;
    rig.Ticks.Confirms(0, rig.Left.data(), rig.Right.data(), span.RepairStart + 1, span.RepairEnd - 1);
  } else {
    span.RegionStart = regionStart;
    span.Position = regionStart + data[3] % regionLen;
    if (!rig.Location.Process(rig.Left.data(), rig.Trace.data(), span)) return 0;
    if (span.RepairEnd - span.RepairStart < 3) std::abort();
    if (refined && !rig.Refiner.Process(rig.Left.data(), span)) return 0;
  }
  const int32_t first = span.RepairStart + 1, last = span.RepairEnd - 1;
  if (last - first < 1 || first <= span.RegionStart || last >= span.RegionStart + regionLen) std::abort();

  // Only the replaced samples' bytes may change, and they change exactly when the outcome says so.
  int32_t lastRepaired = -1;
  const TClickOutcome outcome =
      rig.Repair.Process(rig.Format, {rig.Left.data(), rig.Right.data(), rig.Bytes.data()}, true, span,
                         refined ? &rig.Refiner : nullptr, rig.Cache, lastRepaired);
  bool changed = false;
  for (size_t i = 0; i < rig.Input.size(); ++i) {
    if (rig.Bytes[i] == rig.Input[i]) continue;
    const int32_t frame = static_cast<int32_t>(i / 2);
    if (frame < first || frame > last) std::abort();
    changed = true;
  }
  if (changed != (outcome == TClickOutcome::Repaired)) std::abort();
  return 0;
}

}  // namespace klarwell::fuzz
