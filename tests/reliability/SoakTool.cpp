// klarwell-soaktool: the long-run files and their check, all streaming so that neither a
// multi-hour recording nor a file beyond 2 GiB is ever held in memory.
//
//   klarwell-soaktool make PATH SECONDS RATE BYTES   stereo music with clicks, integer PCM of BYTES
//                                                    per sample, written piece by piece
//   klarwell-soaktool make-rf64 PATH SECONDS RATE BYTES   the same as RF64, for data beyond 4 GiB
//   klarwell-soaktool check IN OUT JSON              every sample where OUT differs from IN lies
//                                                    inside a repair listed in the --json line

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "audio/WavFile.h"
#include "tests/support/SignalGen.h"

using namespace klarwell;

namespace {

constexpr double kPieceSeconds = 10.0;

// RF64 by hand, for the program to read and write back: the 32-bit sizes defer to "ds64", which is
// filled in once the data is written.
int MakeRf64(const std::string& path, double seconds, int rate, int bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return std::fprintf(stderr, "%s: cannot create\n", path.c_str()), 1;
  std::vector<uint8_t> head;
  auto put = [&](uint64_t v, int n) {
    for (int i = 0; i < n; ++i) head.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  auto id = [&](const char* s) { head.insert(head.end(), s, s + 4); };
  const uint32_t align = 2u * static_cast<uint32_t>(bytes);
  id("RF64"), put(0xFFFFFFFFu, 4), id("WAVE"), id("ds64"), put(28, 4), put(0, 28);
  id("fmt "), put(16, 4), put(1, 2), put(2, 2), put(static_cast<uint32_t>(rate), 4);
  put(static_cast<uint32_t>(rate) * align, 4), put(align, 2), put(8u * static_cast<uint32_t>(bytes), 2);
  id("data"), put(0xFFFFFFFFu, 4);
  std::fwrite(head.data(), 1, head.size(), f);
  const int64_t totalFrames = static_cast<int64_t>(seconds * rate);
  uint64_t dataBytes = 0;
  for (int64_t done = 0, piece = 0; done < totalFrames; ++piece) {
    const double pieceSeconds = std::min(kPieceSeconds, static_cast<double>(totalFrames - done) / rate);
    test::TSignal s = test::MakeMusic(pieceSeconds, rate, 2, 1000 + static_cast<uint64_t>(piece));
    if (s.Frames() > rate) test::AddClicks(s, 6, 3, 60, rate / 4, 5000 + static_cast<uint64_t>(piece));
    const std::vector<uint8_t> frames = test::EncodeFrames(s, bytes, false);
    if (frames.empty() || std::fwrite(frames.data(), 1, frames.size(), f) != frames.size()) break;
    dataBytes += frames.size();
    done += s.Frames();
  }
  // The form holds 72 header bytes after its size field, then the data (stereo frames: even in size).
  head.clear();
  put(72 + dataBytes, 8), put(dataBytes, 8), put(dataBytes / align, 8);
  const bool ok = std::fseek(f, 20, SEEK_SET) == 0 && std::fwrite(head.data(), 1, 24, f) == 24;
  if (std::fclose(f) != 0 || !ok) return std::fprintf(stderr, "%s: cannot write\n", path.c_str()), 1;
  std::printf("%s: %llu data bytes\n", path.c_str(), static_cast<unsigned long long>(dataBytes));
  return 0;
}

int Make(const std::string& path, double seconds, int rate, int bytes) {
  TWavRecord out;
  out.Format.wFormatTag = WaveFormatPcm;
  out.Format.nChannels = 2;
  out.Format.nSamplesPerSec = static_cast<uint32_t>(rate);
  out.Format.nBlockAlign = static_cast<uint16_t>(2 * bytes);
  out.Format.nAvgBytesPerSec = out.Format.nSamplesPerSec * out.Format.nBlockAlign;
  out.Format.wBitsPerSample = static_cast<uint16_t>(8 * bytes);
  if (!CreateWav(path, out)) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), out.ErrorMsg.c_str());
    return 1;
  }
  const int64_t totalFrames = static_cast<int64_t>(seconds * rate);
  uint64_t position = 0;
  std::string msg;
  for (int64_t done = 0, piece = 0; done < totalFrames; ++piece) {
    const double pieceSeconds = std::min(kPieceSeconds, static_cast<double>(totalFrames - done) / rate);
    test::TSignal s = test::MakeMusic(pieceSeconds, rate, 2, 1000 + static_cast<uint64_t>(piece));
    if (s.Frames() > rate) test::AddClicks(s, 6, 3, 60, rate / 4, 5000 + static_cast<uint64_t>(piece));
    const std::vector<uint8_t> frames = test::EncodeFrames(s, bytes, false);
    if (frames.empty()) break;
    if (!WriteWavData(out, frames.data(), position, static_cast<uint32_t>(frames.size()), 0, msg)) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), msg.c_str());
      return 1;
    }
    position += frames.size();
    done += s.Frames();
  }
  if (!CloseWav(out)) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), out.ErrorMsg.c_str());
    return 1;
  }
  std::printf("%s: %llu data bytes\n", path.c_str(), static_cast<unsigned long long>(position));
  return 0;
}

// The integer following `"key":` from `from` on; -1 when absent.
int64_t NumberAfter(const std::string& text, const std::string& key, size_t& from) {
  const size_t k = text.find("\"" + key + "\"", from);
  if (k == std::string::npos) return -1;
  size_t p = text.find(':', k);
  if (p == std::string::npos) return -1;
  ++p;
  while (p < text.size() && text[p] == ' ') ++p;
  from = p;
  return std::strtoll(text.c_str() + p, nullptr, 10);
}

int Check(const std::string& inPath, const std::string& outPath, const std::string& jsonPath) {
  std::ifstream jf(jsonPath);
  std::stringstream js;
  js << jf.rdbuf();
  const std::string json = js.str();
  // Repair ranges per channel, as a coverage count over events (first +1, last + 1 -1).
  std::vector<std::vector<std::pair<int64_t, int64_t>>> ranges(2);
  size_t at = json.find("\"repairs\"");
  size_t repairs = 0;
  while (at != std::string::npos) {
    const int64_t channel = NumberAfter(json, "channel", at);
    if (channel < 0) break;
    const int64_t first = NumberAfter(json, "first", at), last = NumberAfter(json, "last", at);
    if (channel > 1 || first < 0 || last < first) return std::fprintf(stderr, "bad repair entry\n"), 1;
    ranges[static_cast<size_t>(channel)].push_back({first, last});
    ++repairs;
  }
  TWavRecord in, out;
  if (!OpenWav(inPath, in) || !OpenWav(outPath, out)) return std::fprintf(stderr, "cannot open\n"), 1;
  if (in.NumFrames != out.NumFrames || in.Format.nBlockAlign != out.Format.nBlockAlign)
    return std::fprintf(stderr, "format or length differ\n"), 1;
  const uint32_t align = in.Format.nBlockAlign, bps = in.BytesPerSample, channels = in.Format.nChannels;
  // Coverage per channel: a frame is covered when some repair contains it.
  std::vector<std::vector<int64_t>> starts(2), ends(2);
  for (size_t c = 0; c < 2; ++c) {
    for (auto [f, l] : ranges[c]) starts[c].push_back(f), ends[c].push_back(l);
    std::sort(starts[c].begin(), starts[c].end());
    std::sort(ends[c].begin(), ends[c].end());
  }
  std::vector<size_t> si(2, 0), ei(2, 0);
  std::vector<int64_t> open(2, 0);
  const uint32_t chunkFrames = 1 << 16;
  std::vector<uint8_t> a(static_cast<size_t>(chunkFrames) * align), b(a.size());
  std::string msg;
  uint64_t changed = 0, outside = 0;
  if (ContainerName(in) != std::string(ContainerName(out)))
    return std::fprintf(stderr, "container differs\n"), 1;
  for (uint32_t frame0 = 0; frame0 < in.NumFrames; frame0 += chunkFrames) {
    const uint32_t n = std::min(chunkFrames, in.NumFrames - frame0);
    const uint64_t pos = static_cast<uint64_t>(frame0) * align;
    if (!ReadWavData(in, a.data(), pos, n * align, msg) || !ReadWavData(out, b.data(), pos, n * align, msg))
      return std::fprintf(stderr, "read: %s\n", msg.c_str()), 1;
    for (uint32_t i = 0; i < n; ++i) {
      const int64_t frame = static_cast<int64_t>(frame0) + i;
      for (uint32_t c = 0; c < channels; ++c) {
        while (si[c] < starts[c].size() && starts[c][si[c]] <= frame) ++open[c], ++si[c];
        while (ei[c] < ends[c].size() && ends[c][ei[c]] < frame) --open[c], ++ei[c];
        const size_t o = static_cast<size_t>(i) * align + c * bps;
        bool same = true;
        for (uint32_t k = 0; k < bps; ++k) same = same && a[o + k] == b[o + k];
        if (same) continue;
        ++changed;
        if (open[c] <= 0) ++outside;
      }
    }
  }
  std::printf("repairs %zu, changed samples %llu, changed outside repairs %llu\n", repairs,
              static_cast<unsigned long long>(changed), static_cast<unsigned long long>(outside));
  return outside == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 5 && args[0] == "make")
    return Make(args[1], std::atof(args[2].c_str()), std::atoi(args[3].c_str()), std::atoi(args[4].c_str()));
  if (args.size() == 5 && args[0] == "make-rf64")
    return MakeRf64(args[1], std::atof(args[2].c_str()), std::atoi(args[3].c_str()),
                    std::atoi(args[4].c_str()));
  if (args.size() == 4 && args[0] == "check") return Check(args[1], args[2], args[3]);
  std::fprintf(stderr, "usage: klarwell-soaktool make PATH SECONDS RATE BYTES | check IN OUT JSON\n");
  return 2;
}
