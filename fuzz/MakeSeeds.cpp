// Writes the generated part of the fuzz seed corpus: short, valid WAV files of every sample format,
// one and two channels, a few rates, with and without clicks and trailing chunks, and the same as
// AIFF and RF64.
//   klarwell-fuzz-seeds <directory>

#include <cstdio>
#include <string>

#include "tests/support/ContainerBuilder.h"
#include "tests/support/SignalGen.h"
#include "tests/support/WavBuilder.h"

int main(int argc, char** argv) {
  using namespace klarwell::test;
  if (argc != 2) {
    std::fprintf(stderr, "usage: klarwell-fuzz-seeds <directory>\n");
    return 2;
  }
  const std::string dir = argv[1];
  struct TKind {
    int Bytes;
    bool IsFloat;
    bool Extensible;
  } kinds[] = {{1, false, false}, {2, false, false}, {3, false, false}, {4, false, false},
               {4, true, false},  {2, false, true},  {3, false, true},  {4, true, true}};
  const int rates[] = {8000, 44100, 96000};
  int count = 0;
  for (const TKind& k : kinds) {
    for (int channels = 1; channels <= 2; ++channels) {
      for (int rate : rates) {
        for (int variant = 0; variant < 2; ++variant) {
          // A fraction of a second keeps the whole road fast while it still fills an engine block.
          TSignal s = MakeMusic(0.05 + 0.1 * variant, rate, channels, 100 + count);
          if (variant) AddClicks(s, 2, 3, 20, rate / 50, 200 + count);
          const auto bytes = static_cast<uint16_t>(k.Bytes);
          TFmtFields fmt =
              k.Extensible ? TFmtFields::Extensible(static_cast<uint16_t>(channels), bytes, k.IsFloat,
                                                    static_cast<uint32_t>(rate))
              : k.IsFloat
                  ? TFmtFields::Float(static_cast<uint16_t>(channels), static_cast<uint32_t>(rate))
                  : TFmtFields::Pcm(static_cast<uint16_t>(channels), bytes, static_cast<uint32_t>(rate));
          TWavBuilder b;
          b.Fmt(fmt);
          if (variant) b.Chunk("LIST", TBytes{'I', 'N', 'F', 'O'});
          b.Data(EncodeFrames(s, k.Bytes, k.IsFloat));
          if (variant) b.Chunk("id3 ", TBytes{1, 2, 3});
          char name[96];
          std::snprintf(name, sizeof name, "%s/gen-%d%s%s-%dch-%d-%d.wav", dir.c_str(), k.Bytes,
                        k.IsFloat ? "f" : "i", k.Extensible ? "x" : "", channels, rate, variant);
          if (!b.WriteFile(name)) {
            std::fprintf(stderr, "cannot write %s\n", name);
            return 1;
          }
          ++count;
          // The other containers around the same samples, with a chunk before and after them.
          if (variant && !k.Extensible) {
            const TBytes frames = EncodeFrames(s, k.Bytes, k.IsFloat);
            const TChunkList before = {{"NAME", TBytes{'x'}}}, after = {{"ANNO", TBytes{'y', 'z'}}};
            std::snprintf(name, sizeof name, "%s/gen-%d%s-%dch-%d.aif", dir.c_str(), k.Bytes,
                          k.IsFloat ? "f" : "i", channels, rate);
            const auto ch = static_cast<uint16_t>(channels);
            if (!WriteBytes(name, MakeAiff(ch, k.Bytes, static_cast<uint32_t>(rate), frames,
                                           k.IsFloat ? "fl32" : "", before, after)))
              return 1;
            std::snprintf(name, sizeof name, "%s/gen-%d%s-%dch-%d-rf64.wav", dir.c_str(), k.Bytes,
                          k.IsFloat ? "f" : "i", channels, rate);
            if (!WriteBytes(name, MakeRf64(fmt, frames, {{"bext", TBytes(16, 1)}},
                                           {{"LIST", TBytes{'I', 'N', 'F', 'O'}}})))
              return 1;
            count += 2;
          }
        }
      }
    }
  }
  std::printf("%d seed files in %s\n", count, dir.c_str());
  return 0;
}
