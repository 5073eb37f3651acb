#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "audio/WavFile.h"
#include "tests/support/TestPaths.h"
#include "tests/support/WavBuilder.h"
#include "text/LangText.h"

namespace klarwell {
namespace {

using test::TBytes;
using test::TFmtFields;
using test::TWavBuilder;

uint32_t Le32At(const TBytes& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
         static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::string IdAt(const TBytes& b, size_t at) {
  return std::string(b.begin() + at, b.begin() + at + 4);
}

TBytes Ramp(size_t count) {
  TBytes b(count);
  for (size_t i = 0; i < count; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
  return b;
}

TBytes Slice(const TBytes& b, size_t from, size_t to) {
  return TBytes(b.begin() + from, b.begin() + to);
}

class WavFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLanguage(TLanguage::English);
    Dir = test::MakeTempDir();
  }
  void TearDown() override {
    SetLanguage(TLanguage::English);
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  std::string Path(const std::string& name) const { return Dir + "/" + name; }
  std::string Put(const std::string& name, const TBytes& bytes) const {
    std::string p = Path(name);
    EXPECT_TRUE(test::WriteBytes(p, bytes));
    return p;
  }
  // The open's message, "" when it opened.
  std::string OpenMessage(const TBytes& bytes, TWavRecord& rec) {
    std::string p = Put("probe.wav", bytes);
    bool ok = OpenWav(p, rec);
    EXPECT_EQ(ok, rec.IsOpen());
    return ok ? std::string() : rec.ErrorMsg;
  }
  std::string OpenMessage(const TBytes& bytes) {
    TWavRecord rec;
    return OpenMessage(bytes, rec);
  }

  std::string Dir;
};

// Every check of the open, in its order, with the message each failure must give.
TEST_F(WavFileTest, OpenChecksGiveTheirMessagesInOrder) {
  TFmtFields stereo16 = TFmtFields::Pcm(2, 2);
  TFmtFields tri = TFmtFields::Pcm(3, 2);
  TFmtFields badTagTri = tri;
  badTagTri.FormatTag = 2;
  TFmtFields float64 = TFmtFields::Float(1);
  float64.BlockAlign = 8;
  TFmtFields extOddSub = TFmtFields::Extensible(2, 2, false);
  extOddSub.SubFormat[0] = 2;
  TFmtFields extCb24 = TFmtFields::Extensible(2, 2, false);
  extCb24.CbSize = 24;
  TFmtFields noChannels = stereo16;
  noChannels.Channels = 0;
  TFmtFields noBlockAlign = stereo16;
  noBlockAlign.BlockAlign = 0;
  TFmtFields noRate = stereo16;
  noRate.SampleRate = 0;
  TFmtFields wideFrame = TFmtFields::Pcm(1, 1);
  wideFrame.BlockAlign = 257;  // 257 div 1 cut to 8 bits would pass as 1 byte per sample
  TFmtFields extFloat64 = TFmtFields::Extensible(1, 8, true);
  TFmtFields float2 = TFmtFields::Float(1);
  float2.BlockAlign = 2;
  TBytes data = Ramp(64);
  TBytes junkFirst;
  test::AppendId(junkFirst, "JUNK");
  test::Append32(junkFirst, 6);
  junkFirst.insert(junkFirst.end(), 6, 0);
  TBytes wav = TWavBuilder().Fmt(stereo16).Data(data).Bytes();
  junkFirst.insert(junkFirst.end(), wav.begin(), wav.end());

  struct TCase {
    const char* Name;
    TBytes Bytes;
    const char* Message;
  };
  const TCase cases[] = {
      {"no RIFF at all", TBytes(64, 0x41), "No Wav file"},
      {"RIFF of another form", TWavBuilder().FormType("AVI ").Fmt(stereo16).Data(data).Bytes(),
       "No Wav file"},
      {"no fmt chunk", TWavBuilder().Data(data).Bytes(), "Format not found"},
      {"fmt after data", TWavBuilder().Data(data).Fmt(stereo16).Chunk("JUNK", Ramp(8)).Bytes(),
       "Cannot find data"},
      {"no data chunk", TWavBuilder().Fmt(stereo16).Chunk("LIST", Ramp(20)).Bytes(), "Cannot find data"},
      {"extensible with cbSize 24", TWavBuilder().Fmt(extCb24, 48).Data(data).Bytes(), "Cannot read format"},
      {"extensible cut after 18 bytes", TWavBuilder().Fmt(TFmtFields::Extensible(2, 2, false), 18).Bytes(),
       "Cannot read format"},
      {"64-bit float", TWavBuilder().Fmt(float64).Data(data).Bytes(), "Unsupported format"},
      {"2-byte float", TWavBuilder().Fmt(float2).Data(data).Bytes(), "Unsupported format"},
      {"extensible 64-bit float", TWavBuilder().Fmt(extFloat64).Data(data).Bytes(), "Unsupported format"},
      {"extensible, unknown sub-format", TWavBuilder().Fmt(extOddSub).Data(data).Bytes(),
       "Unsupported format"},
      {"three channels", TWavBuilder().Fmt(tri).Data(data).Bytes(), "Unsupported nr. of channels"},
      {"bad tag and three channels", TWavBuilder().Fmt(badTagTri).Data(data).Bytes(), "Unsupported format"},
      {"nChannels 0 (nothing may divide by it)", TWavBuilder().Fmt(noChannels).Data(data).Bytes(),
       "Unsupported nr. of channels"},
      {"nBlockAlign 0", TWavBuilder().Fmt(noBlockAlign).Data(data).Bytes(), "Unsupported format"},
      {"sample rate 0", TWavBuilder().Fmt(noRate).Data(data).Bytes(), "Unsupported format"},
      {"257-byte frames are not 8-bit", TWavBuilder().Fmt(wideFrame).Data(Ramp(514)).Bytes(),
       "Unsupported format"},
      {"empty data chunk", TWavBuilder().Fmt(stereo16).Data({}).Bytes(), "No Data"},
      {"chunk before fmt claiming 0xFFFFFFFF ends the walk",
       TWavBuilder().Chunk("LIST", Ramp(12), 0xFFFFFFFFu).Fmt(stereo16).Data(data).Bytes(),
       "Format not found"},
      {"chunk between fmt and data claiming 0xFFFFFFFF",
       TWavBuilder().Fmt(stereo16).Chunk("LIST", Ramp(12), 0xFFFFFFFFu).Data(data).Bytes(),
       "Cannot find data"},
      {"fmt claiming 0xFFFFFFFF",
       TWavBuilder().Chunk("fmt ", test::FmtPayload(stereo16, 18), 0xFFFFFFFFu).Data(data).Bytes(),
       "Cannot find data"},
      {"RIFF claiming 0xFFFFFFFF", TWavBuilder().RiffSize(0xFFFFFFFFu).Fmt(stereo16).Data(data).Bytes(), ""},
      {"odd fmt size with its pad byte", TWavBuilder().Fmt(stereo16, 19).Data(data).Bytes(), ""},
      {"odd fmt size without its pad byte",
       TWavBuilder().Chunk("fmt ", test::FmtPayload(stereo16, 19), {}, false).Data(data).Bytes(),
       "Cannot find data"},
      {"other chunk ahead of the RIFF form", junkFirst, ""},
      {"fact and LIST between fmt and data",
       TWavBuilder().Fmt(stereo16).Chunk("fact", Ramp(4)).Chunk("LIST", Ramp(27)).Data(data).Bytes(), ""},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(OpenMessage(c.Bytes), c.Message) << c.Name;
  }
}

// Every supported form opens, with the record the codec and the list rely on.
TEST_F(WavFileTest, SupportedFormsOpenWithTheirRecord) {
  struct TCase {
    TFmtFields Fields;
    const char* FormatText;
    uint8_t BytesPerSample, PcmSubFormat;
  };
  const TCase cases[] = {
      {TFmtFields::Pcm(1, 1), "44100/1/PCM", 1, 0},
      {TFmtFields::Pcm(2, 2), "44100/2/PCM", 2, 0},
      {TFmtFields::Pcm(2, 3, 96000), "96000/3/PCM", 3, 0},
      {TFmtFields::Pcm(1, 4, 48000), "48000/4/PCM", 4, 0},
      {TFmtFields::Float(2), "44100/4/IEEE", 4, 0},
      {TFmtFields::Extensible(2, 3, false), "44100/3/PCM", 3, 1},
      {TFmtFields::Extensible(1, 1, false), "44100/1/PCM", 1, 1},
      {TFmtFields::Extensible(2, 4, true), "44100/4/IEEE", 4, 0},
  };
  for (const TCase& c : cases) {
    TWavRecord rec;
    uint32_t frames = 10;
    // A partial frame at the end is ignored.
    TBytes data = Ramp(frames * c.Fields.BlockAlign + c.Fields.BlockAlign - 1);
    ASSERT_EQ(OpenMessage(TWavBuilder().Fmt(c.Fields).Data(data).Bytes(), rec), "") << c.FormatText;
    EXPECT_EQ(WavFormatText(rec), c.FormatText);
    EXPECT_EQ(rec.BytesPerSample, c.BytesPerSample) << c.FormatText;
    EXPECT_EQ(rec.PcmSubFormat, c.PcmSubFormat) << c.FormatText;
    EXPECT_EQ(rec.NumFrames, frames) << c.FormatText;
    EXPECT_EQ(rec.DataOffset, c.Fields.FormatTag == 0xFFFE ? 68u : 46u) << c.FormatText;
    EXPECT_EQ(rec.Format.cbSize, c.Fields.FormatTag == 0xFFFE ? 22 : 0) << c.FormatText;
    EXPECT_EQ(rec.Writing, 0);
  }
}

TEST_F(WavFileTest, SixteenByteFmtOpensWithCbSizeZero) {
  TWavRecord rec;
  ASSERT_EQ(OpenMessage(TWavBuilder().Fmt(TFmtFields::Pcm(2, 2), 16).Data(Ramp(40)).Bytes(), rec), "");
  EXPECT_EQ(rec.Format.cbSize, 0);
  EXPECT_EQ(rec.DataOffset, 44u);
  EXPECT_EQ(rec.NumFrames, 10u);
}

// Cutting an ordinary file after every length from 0 to 80 bytes: the message follows from how far
// the layout got (RIFF header 0-11, fmt header 12-19, format 20-37, data header 38-45, samples 46-),
// and never a crash or a hang.
TEST_F(WavFileTest, HeaderCutAtEveryLengthGivesItsMessage) {
  TBytes full = TWavBuilder().Fmt(TFmtFields::Pcm(2, 2)).Data(Ramp(40)).Chunk("LIST", Ramp(6)).Bytes();
  ASSERT_EQ(full.size(), 100u);
  for (size_t len = 0; len <= 100; ++len) {
    if (len > 80 && len < 100) continue;
    TWavRecord rec;
    std::string msg = OpenMessage(Slice(full, 0, len), rec);
    const char* expected = len < 12    ? "No Wav file"
                           : len < 20  ? "Format not found"
                           : len < 38  ? "Cannot read format"
                           : len < 46  ? "Cannot find data"
                           : len < 50  ? "No Data"  // less than one 4-byte frame
                                       : "";
    EXPECT_EQ(msg, expected) << "length " << len;
    if (msg.empty()) {
      EXPECT_EQ(rec.NumFrames, std::min<size_t>(len - 46, 40) / 4) << "length " << len;
      // The LIST chunk counts only when it is there whole.
      EXPECT_EQ(rec.TailStart, len == 100 ? 86u : 0u) << "length " << len;
    }
  }
}

// A data chunk that claims more than the file holds is taken as ending at the end of the file.
TEST_F(WavFileTest, TruncatedDataChunkOpensWithTheFramesPresent) {
  const TBytes samples = Ramp(6 * 7 + 5);
  const uint32_t claims[] = {1000, 0xFFFFFFFFu, 0xFFFFFFFEu};
  for (uint32_t claim : claims) {
    TWavRecord rec;
    ASSERT_EQ(OpenMessage(TWavBuilder().Fmt(TFmtFields::Pcm(2, 3)).Data(samples, claim, false).Bytes(), rec),
              "")
        << claim;
    EXPECT_EQ(rec.NumFrames, 7u) << claim;
    EXPECT_EQ(rec.DataSize, samples.size()) << claim;
    EXPECT_EQ(rec.TailStart, 0u);
    TBytes got(42);
    std::string msg;
    EXPECT_TRUE(ReadWavData(rec, got.data(), 0, 42, msg)) << msg;
    EXPECT_EQ(got, Slice(samples, 0, 42));
  }
}

TEST_F(WavFileTest, TrailingChunksAreNotedInsideTheFormOnly) {
  TFmtFields f = TFmtFields::Pcm(1, 1);
  struct TCase {
    const char* Name;
    TBytes Bytes;
    uint64_t TailStart, TailEnd;
  };
  // Data of 5 bytes at 46 plus its pad: the first chunk after it starts at 52.
  const TCase cases[] = {
      {"none", TWavBuilder().Fmt(f).Data(Ramp(5)).Bytes(), 0, 0},
      {"one odd chunk, its pad not counted",
       TWavBuilder().Fmt(f).Data(Ramp(5)).Chunk("LIST", Ramp(9)).Bytes(), 52, 69},
      {"two chunks", TWavBuilder().Fmt(f).Data(Ramp(5)).Chunk("LIST", Ramp(4)).Chunk("smpl", Ramp(7)).Bytes(),
       52, 79},
      {"second claims more than remains",
       TWavBuilder().Fmt(f).Data(Ramp(5)).Chunk("LIST", Ramp(4)).Chunk("smpl", Ramp(7), 0xFFFFFFF0u).Bytes(),
       52, 64},
      {"beyond the RIFF size",
       TWavBuilder().RiffSize(4 + 26 + 14).Fmt(f).Data(Ramp(5)).Chunk("LIST", Ramp(4)).Bytes(), 0, 0},
      {"cut header after data", TWavBuilder().Fmt(f).Data(Ramp(5)).Raw({'L', 'I', 'S'}).Bytes(), 0, 0},
  };
  for (const TCase& c : cases) {
    TWavRecord rec;
    ASSERT_EQ(OpenMessage(c.Bytes, rec), "") << c.Name;
    EXPECT_EQ(rec.TailStart, c.TailStart) << c.Name;
    EXPECT_EQ(rec.TailEnd, c.TailEnd) << c.Name;
  }
}

// The written layout byte by byte: header, format block, data, pad bytes, the input's trailing chunks
// and the RIFF size; a LIST between fmt and data stays behind.
TEST_F(WavFileTest, WrittenFileHasTheExactLayout) {
  struct TCase {
    TFmtFields Fields;
    uint32_t DataBytes;
  };
  const TCase cases[] = {{TFmtFields::Pcm(1, 1), 7},
                         {TFmtFields::Pcm(2, 2), 8},
                         {TFmtFields::Extensible(2, 3, false), 12},
                         {TFmtFields::Extensible(1, 4, true), 4}};
  const TBytes listBefore = {'I', 'N', 'F', 'O', 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  for (const TCase& c : cases) {
    const bool ext = c.Fields.FormatTag == 0xFFFE;
    std::string in = Put("in.wav", TWavBuilder()
                                       .Fmt(c.Fields)
                                       .Chunk("LIST", listBefore)
                                       .Data(Ramp(c.DataBytes + 2))
                                       .Chunk("cue ", Ramp(6))
                                       .Chunk("smpl", Ramp(3))
                                       .Bytes());
    TWavRecord input, output;
    ASSERT_TRUE(OpenWav(in, input)) << input.ErrorMsg;
    output.Format = input.Format;
    ASSERT_TRUE(CreateWav(Path("out.wav"), output)) << output.ErrorMsg;
    EXPECT_EQ(output.DataOffset, ext ? 68u : 46u);
    EXPECT_EQ(output.Writing, 1);
    TBytes samples = Ramp(c.DataBytes);
    std::string msg;
    ASSERT_TRUE(WriteWavData(output, samples.data(), 0, c.DataBytes, 0, msg)) << msg;
    ASSERT_TRUE(CloseWavWithTail(output, input)) << output.ErrorMsg;
    EXPECT_FALSE(output.IsOpen());
    EXPECT_TRUE(input.IsOpen());

    TBytes b = test::ReadBytes(Path("out.wav"));
    TBytes fmtBlock = test::FmtPayload(c.Fields, ext ? 40 : 18);
    size_t dataAt = ext ? 68 : 46;
    size_t tailAt = dataAt + c.DataBytes + (c.DataBytes & 1);
    size_t riffEnd = tailAt + 8 + 6 + 8 + 3;  // the last chunk's pad is not part of the tail
    ASSERT_EQ(b.size(), riffEnd + 1) << "RIFF pad byte";
    EXPECT_EQ(IdAt(b, 0), "RIFF");
    EXPECT_EQ(Le32At(b, 4), riffEnd - 8);
    EXPECT_EQ(IdAt(b, 8), "WAVE");
    EXPECT_EQ(IdAt(b, 12), "fmt ");
    EXPECT_EQ(Le32At(b, 16), ext ? 40u : 18u);
    EXPECT_EQ(Slice(b, 20, 20 + fmtBlock.size()), fmtBlock);
    EXPECT_EQ(IdAt(b, dataAt - 8), "data");
    EXPECT_EQ(Le32At(b, dataAt - 4), c.DataBytes);
    EXPECT_EQ(Slice(b, dataAt, dataAt + c.DataBytes), samples);
    if (c.DataBytes & 1) {
      EXPECT_EQ(b[dataAt + c.DataBytes], 0) << "data pad byte";
    }
    TBytes inBytes = test::ReadBytes(in);
    EXPECT_EQ(Slice(b, tailAt, riffEnd), Slice(inBytes, input.TailStart, input.TailEnd));
    EXPECT_EQ(IdAt(b, tailAt), "cue ");
    EXPECT_EQ(b[riffEnd], 0);
    EXPECT_EQ(std::search(b.begin(), b.end(), listBefore.begin(), listBefore.end()), b.end())
        << "the LIST before the data is not copied";

    TWavRecord again;
    ASSERT_TRUE(OpenWav(Path("out.wav"), again)) << again.ErrorMsg;
    EXPECT_EQ(again.DataSize, c.DataBytes);
    EXPECT_EQ(again.TailStart, tailAt);
  }
}

// The chunks an input holds before its data stay before the output's data, byte for byte and in
// their order, with the output's own "fmt " where the input's stood; the output opens again with the
// right DataOffset. An input with only "fmt " and "data" gets the plain header (46, or 68).
TEST_F(WavFileTest, ChunksBeforeTheDataKeepTheirPlaceInTheOutput) {
  enum TKind { Fmt, Data, Kept, Dropped };
  struct TPiece {
    TKind Kind;
    const char* Id = "";
    TBytes Payload = {};
  };
  struct TCase {
    const char* Name;
    TFmtFields Fields;
    std::vector<TPiece> Pieces;
    size_t InputFmtSize = 0;  // 0: the usual size
  };
  const TFmtFields pcm = TFmtFields::Pcm(2, 2);
  const TFmtFields ext = TFmtFields::Extensible(2, 3, false);
  const TCase cases[] = {
      {"plain", pcm, {{Fmt}, {Data}}},
      {"plain extensible", ext, {{Fmt}, {Data}}},
      {"bext before fmt", pcm, {{Kept, "bext", Ramp(602)}, {Fmt}, {Data}}},
      {"LIST between fmt and data",
       pcm,
       {{Fmt}, {Kept, "LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M'}}, {Data}}},
      {"both, and a trailing chunk",
       pcm,
       {{Kept, "bext", Ramp(40)}, {Fmt}, {Kept, "LIST", Ramp(12)}, {Data}, {Kept, "cue ", Ramp(4)}}},
      {"odd sizes get their pad", pcm, {{Kept, "iXML", Ramp(5)}, {Fmt}, {Kept, "JUNK", Ramp(7)}, {Data}}},
      {"extensible after a JUNK",
       ext,
       {{Kept, "JUNK", TBytes(28, 0)}, {Fmt}, {Kept, "fact", Ramp(4)}, {Data}}},
      {"16-byte fmt becomes 18", pcm, {{Kept, "bext", Ramp(10)}, {Fmt}, {Data}}, 16},
      {"a stray data before fmt and a second fmt are left out",
       pcm,
       {{Dropped, "data", Ramp(6)}, {Kept, "bext", Ramp(8)}, {Fmt}, {Dropped, "fmt ", Ramp(18)}, {Data}}},
  };
  for (const TCase& c : cases) {
    const TBytes samples = Ramp(6u * c.Fields.BlockAlign);
    TWavBuilder input, expected;
    for (const TPiece& piece : c.Pieces) {
      switch (piece.Kind) {
        case Fmt:
          input.Fmt(c.Fields, c.InputFmtSize ? std::optional<size_t>(c.InputFmtSize) : std::nullopt);
          expected.Fmt(c.Fields);
          break;
        case Data:
          input.Data(samples);
          expected.Data(samples);
          break;
        case Kept:
          expected.Chunk(piece.Id, piece.Payload);
          [[fallthrough]];
        case Dropped:
          input.Chunk(piece.Id, piece.Payload);
          break;
      }
    }
    const TBytes want = expected.Bytes();
    // Where the expected file's data starts, found by walking its chunks.
    size_t at = 12;
    while (IdAt(want, at) != "data") at += 8 + Le32At(want, at + 4) + (Le32At(want, at + 4) & 1);
    const uint64_t dataOffset = at + 8;

    TWavRecord in, out;
    ASSERT_TRUE(OpenWav(Put("in.wav", input.Bytes()), in)) << c.Name << ": " << in.ErrorMsg;
    out.Format = in.Format;
    ASSERT_TRUE(CreateWavWithHead(Path("out.wav"), out, in)) << c.Name << ": " << out.ErrorMsg;
    EXPECT_EQ(out.DataOffset, dataOffset) << c.Name;
    std::string msg;
    ASSERT_TRUE(WriteWavData(out, samples.data(), 0, static_cast<uint32_t>(samples.size()), 0, msg)) << msg;
    ASSERT_TRUE(CloseWavWithTail(out, in)) << c.Name << ": " << out.ErrorMsg;
    EXPECT_EQ(test::ReadBytes(Path("out.wav")), want) << c.Name;

    TWavRecord again;
    ASSERT_TRUE(OpenWav(Path("out.wav"), again)) << c.Name << ": " << again.ErrorMsg;
    EXPECT_EQ(again.DataOffset, dataOffset) << c.Name;
    EXPECT_EQ(WavFormatText(again), WavFormatText(in)) << c.Name;
    TBytes got(samples.size());
    EXPECT_TRUE(ReadWavData(again, got.data(), 0, static_cast<uint32_t>(got.size()), msg)) << c.Name << msg;
    EXPECT_EQ(got, samples) << c.Name;
  }
}

// A chunk before the data is copied only when the input still holds it whole (the file may shrink
// between open and create), in bounded pieces (the bext here is larger than one piece); the output
// stays a valid file either way.
TEST_F(WavFileTest, ChunksBeforeTheDataAreCopiedAsFarAsTheInputHoldsThem) {
  const TBytes bext = Ramp(300001);
  const TBytes list = {'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 1, 2};
  const TBytes wav =
      TWavBuilder().Chunk("bext", bext).Fmt(TFmtFields::Pcm(1, 2)).Chunk("LIST", list).Data(Ramp(8)).Bytes();
  const size_t fmtAt = 12 + 8 + bext.size() + 1;
  const size_t listAt = fmtAt + 26;
  struct TCase {
    const char* Name;
    size_t CutAt;  // 0: not cut
    bool KeepsBext, KeepsList;
  };
  const TCase cases[] = {
      {"whole", 0, true, true},
      {"cut inside the LIST", listAt + 12, true, false},
      {"cut at the LIST's header", listAt + 4, true, false},
      {"cut inside the bext", 12 + 8 + 1000, false, false},
  };
  for (const TCase& c : cases) {
    const std::string in = Put("in.wav", wav);
    TWavRecord input, output;
    ASSERT_TRUE(OpenWav(in, input)) << c.Name;
    if (c.CutAt != 0) {
      ASSERT_EQ(::truncate(in.c_str(), static_cast<off_t>(c.CutAt)), 0);
    }
    output.Format = input.Format;
    ASSERT_TRUE(CreateWavWithHead(Path("out.wav"), output, input)) << c.Name << ": " << output.ErrorMsg;
    ASSERT_TRUE(CloseWavWithTail(output, input)) << c.Name;

    TWavBuilder expected;
    if (c.KeepsBext) expected.Chunk("bext", bext);
    expected.Fmt(TFmtFields::Pcm(1, 2));
    if (c.KeepsList) expected.Chunk("LIST", list);
    expected.Data({});
    EXPECT_EQ(test::ReadBytes(Path("out.wav")), expected.Bytes()) << c.Name;
  }
}

// Two jobs must never write one file: an output open through another record is refused whatever
// the path, before a byte of it is touched, until that record is closed.
TEST_F(WavFileTest, OutputOpenThroughAnotherRecordIsRefusedUntouched) {
  const std::string first = Path("out.wav");
  TWavRecord holder;
  holder.Format.wFormatTag = WaveFormatPcm;
  holder.Format.nChannels = 2;
  holder.Format.nSamplesPerSec = 44100;
  holder.Format.nBlockAlign = 4;
  ASSERT_TRUE(CreateWav(first, holder));
  std::string msg;
  const TBytes samples = Ramp(40);
  ASSERT_TRUE(WriteWavData(holder, samples.data(), 0, 40, 0, msg)) << msg;
  std::filesystem::create_symlink(first, Path("link.wav"));
  std::filesystem::create_hard_link(first, Path("hard.wav"));
  const TBytes before = test::ReadBytes(first);
  ASSERT_EQ(before.size(), 86u);
  for (const std::string& p : {first, Path("link.wav"), Path("hard.wav"), Dir + "/./out.wav"}) {
    TWavRecord other;
    other.Format = holder.Format;
    EXPECT_FALSE(CreateWav(p, other)) << p;
    EXPECT_EQ(other.ErrorMsg, "Create error") << p;
    EXPECT_FALSE(other.IsOpen());
  }
  EXPECT_EQ(test::ReadBytes(first), before) << "the held output was touched";
  // The holder itself may start its file again: it closes it first.
  ASSERT_TRUE(CreateWav(first, holder)) << holder.ErrorMsg;
  ASSERT_TRUE(CloseWav(holder));
  TWavRecord next;
  next.Format = holder.Format;
  EXPECT_TRUE(CreateWav(Path("hard.wav"), next)) << "a closed output may be written again";
}

TEST_F(WavFileTest, CloseWithoutTailEndsAfterTheData) {
  std::string in =
      Put("in.wav", TWavBuilder().Fmt(TFmtFields::Pcm(1, 1)).Data(Ramp(4)).Chunk("LIST", Ramp(9)).Bytes());
  TWavRecord input, output;
  ASSERT_TRUE(OpenWav(in, input));
  output.Format = input.Format;
  ASSERT_TRUE(CreateWav(Path("out.wav"), output));
  std::string msg;
  TBytes s = Ramp(3);
  ASSERT_TRUE(WriteWavData(output, s.data(), 0, 3, 0, msg));
  ASSERT_TRUE(CloseWav(output));
  TBytes b = test::ReadBytes(Path("out.wav"));
  ASSERT_EQ(b.size(), 50u);  // 46 + 3 + pad
  EXPECT_EQ(Le32At(b, 42), 3u);
  EXPECT_EQ(Le32At(b, 4), 42u);
}

// The trailing chunks are copied as far as the input really holds them, in bounded pieces (the tail
// here is larger than one piece).
TEST_F(WavFileTest, TailCopyIsLimitedToWhatTheInputHolds) {
  TFmtFields f = TFmtFields::Pcm(1, 2);
  const TBytes bigTail = Ramp(300001);
  const TBytes wav = TWavBuilder().Fmt(f).Data(Ramp(8)).Chunk("LIST", bigTail).Bytes();
  std::string in = Path("in.wav");
  for (bool cutInput : {false, true}) {
    ASSERT_TRUE(test::WriteBytes(in, wav));
    TWavRecord input, output;
    ASSERT_TRUE(OpenWav(in, input));
    ASSERT_EQ(input.TailEnd - input.TailStart, 8u + bigTail.size());
    // A file that shrank since it was opened: its recorded tail is no longer all there.
    if (cutInput) {
      ASSERT_EQ(::truncate(in.c_str(), static_cast<off_t>(input.TailStart + 1000)), 0);
    }
    output.Format = input.Format;
    ASSERT_TRUE(CreateWav(Path("out.wav"), output));
    std::string msg;
    TBytes s = Ramp(8);
    ASSERT_TRUE(WriteWavData(output, s.data(), 0, 8, 0, msg));
    ASSERT_TRUE(CloseWavWithTail(output, input));
    TBytes b = test::ReadBytes(Path("out.wav"));
    size_t expectedTail = cutInput ? 1000 : 8 + bigTail.size();
    ASSERT_EQ(b.size(), 54 + expectedTail + (expectedTail & 1)) << cutInput;
    EXPECT_EQ(Le32At(b, 4), 46 + expectedTail) << cutInput;
    EXPECT_EQ(Slice(b, 54, 54 + expectedTail), Slice(wav, input.TailStart, input.TailStart + expectedTail));
  }
}

TEST_F(WavFileTest, CloseOfAClosedRecordSucceeds) {
  TWavRecord rec;
  EXPECT_TRUE(CloseWav(rec));
  EXPECT_TRUE(CloseWav(rec));
  TWavRecord other;
  EXPECT_TRUE(CloseWavWithTail(rec, other));
  EXPECT_FALSE(OpenWav(Path("missing.wav"), rec));
  EXPECT_EQ(rec.ErrorMsg, "Open error");
  EXPECT_TRUE(CloseWav(rec));
}

TEST_F(WavFileTest, NonRegularFilesAreRefusedWithoutBlocking) {
  TWavRecord rec;
  EXPECT_FALSE(OpenWav(Dir, rec));
  EXPECT_EQ(rec.ErrorMsg, "Open error");
  std::string fifo = Path("fifo.wav");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(OpenWav(fifo, rec));  // opened blocking, this would wait for a writer forever
  EXPECT_EQ(rec.ErrorMsg, "Open error");
  TWavRecord out;
  EXPECT_FALSE(CreateWav(fifo, out));
  EXPECT_EQ(out.ErrorMsg, "Create error");
  EXPECT_FALSE(CreateWav(Path("no/such/dir.wav"), out));
  EXPECT_EQ(out.ErrorMsg, "Create error");
}

TEST_F(WavFileTest, ReadAndWriteReportShortTransfers) {
  const TBytes data = Ramp(20);
  TWavRecord rec;
  ASSERT_EQ(OpenMessage(TWavBuilder().Fmt(TFmtFields::Pcm(1, 2)).Data(data).Bytes(), rec), "");
  TBytes buf(64);
  std::string msg = "stale";
  EXPECT_TRUE(ReadWavData(rec, buf.data(), 4, 16, msg));
  EXPECT_EQ(msg, "");
  EXPECT_EQ(Slice(buf, 0, 16), Slice(data, 4, 20));
  EXPECT_FALSE(ReadWavData(rec, buf.data(), 10, 20, msg));
  EXPECT_EQ(msg, "Faild to read data");
  EXPECT_TRUE(rec.IsOpen());
  EXPECT_FALSE(ReadWavData(rec, buf.data(), 0xFFFFFFFFFFFFFFF0ull, 4, msg));
  EXPECT_EQ(msg, "Failed to seek to pos");
  EXPECT_FALSE(WriteWavData(rec, buf.data(), 0, 4, 0, msg));  // opened for reading only
  EXPECT_EQ(msg, "Faild to write data");
  TWavRecord closed;
  EXPECT_FALSE(ReadWavData(closed, buf.data(), 0, 4, msg));
  EXPECT_EQ(msg, "Failed to seek to pos");

  TWavRecord out;
  out.Format = rec.Format;
  ASSERT_TRUE(CreateWav(Path("out.wav"), out));
  TBytes src = Ramp(32);
  EXPECT_TRUE(WriteWavData(out, src.data(), 0, 8, 10, msg));  // the source offset counts
  EXPECT_TRUE(WriteWavData(out, src.data(), 8, 4, 0, msg));
  ASSERT_TRUE(CloseWav(out));
  TBytes b = test::ReadBytes(Path("out.wav"));
  ASSERT_EQ(b.size(), 58u);
  EXPECT_EQ(Slice(b, 46, 54), Slice(src, 10, 18));
  EXPECT_EQ(Slice(b, 54, 58), Slice(src, 0, 4));
}

// An output that is one of the open inputs is refused by identity (device and inode), whatever path
// leads to it, and the input keeps every byte.
TEST_F(WavFileTest, OutputThatIsAnOpenInputIsRefused) {
  std::filesystem::create_directory(Path("sub"));
  std::string in = Put("in.wav", TWavBuilder().Fmt(TFmtFields::Pcm(2, 2)).Data(Ramp(400)).Bytes());
  std::filesystem::create_symlink(in, Path("link.wav"));
  std::filesystem::create_hard_link(in, Path("hard.wav"));
  const uint64_t before = test::FileChecksum(in);
  TWavRecord input;
  ASSERT_TRUE(OpenWav(in, input));
  const std::string paths[] = {in, Path("link.wav"), Path("hard.wav"), Dir + "/./in.wav",
                               Dir + "/sub/../in.wav"};
  for (const std::string& p : paths) {
    for (TLanguage lang : {TLanguage::English, TLanguage::German}) {
      SetLanguage(lang);
      TWavRecord out;
      out.Format = input.Format;
      EXPECT_FALSE(CreateWav(p, out)) << p;
      EXPECT_FALSE(out.IsOpen());
      EXPECT_EQ(out.ErrorMsg, lang == TLanguage::English ? "Create error" : "Fehler beim Anlegen") << p;
    }
  }
  SetLanguage(TLanguage::English);
  EXPECT_EQ(test::FileChecksum(in), before);
  TBytes got(400);
  std::string msg;
  EXPECT_TRUE(ReadWavData(input, got.data(), 0, 400, msg)) << msg;
  EXPECT_EQ(got, Ramp(400));

  // A second open of the same file keeps it protected until both are closed.
  TWavRecord second;
  ASSERT_TRUE(OpenWav(Path("link.wav"), second));
  CloseWav(input);
  TWavRecord out;
  out.Format = second.Format;
  EXPECT_FALSE(CreateWav(in, out));
  CloseWav(second);
  EXPECT_EQ(test::FileChecksum(in), before);
  EXPECT_TRUE(CreateWav(in, out)) << "a closed input may be overwritten";
  CloseWav(out);
}

// Threads opening and creating at once keep the registry of inputs consistent.
TEST_F(WavFileTest, InputRegistryHoldsAcrossThreads) {
  const TBytes wav = TWavBuilder().Fmt(TFmtFields::Pcm(1, 2)).Data(Ramp(100)).Bytes();
  for (int t = 0; t < 4; ++t) Put("in" + std::to_string(t) + ".wav", wav);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::string in = Path("in" + std::to_string(t) + ".wav");
      std::string out = Path("out" + std::to_string(t) + ".wav");
      for (int i = 0; i < 200; ++i) {
        TWavRecord input, output, clash;
        if (!OpenWav(in, input)) ++failures[t];
        clash.Format = input.Format;
        if (CreateWav(in, clash)) ++failures[t];
        output.Format = input.Format;
        if (!CreateWav(out, output)) ++failures[t];
        if (!CloseWavWithTail(output, input)) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(failures[t], 0) << t;
    EXPECT_EQ(test::ReadBytes(Path("in" + std::to_string(t) + ".wav")), wav);
  }
}

// Sample data between 2 GiB and 4 GiB is read and written (sparse files: little real disk use).
TEST_F(WavFileTest, DataBeyondTwoGiBIsReachable) {
  const uint64_t dataBytes = 3ull << 30;
  const uint64_t farPos = (5ull << 29) + 4;  // 2.5 GiB, a frame boundary
  std::string in = Path("big.wav");
  ASSERT_TRUE(TWavBuilder()
                  .RiffSize(static_cast<uint32_t>(dataBytes + 38))
                  .Fmt(TFmtFields::Pcm(2, 2))
                  .Data({}, static_cast<uint32_t>(dataBytes))
                  .WriteFile(in));
  ASSERT_EQ(::truncate(in.c_str(), static_cast<off_t>(46 + dataBytes)), 0);
  FILE* f = std::fopen(in.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(fseeko(f, static_cast<off_t>(46 + farPos), SEEK_SET), 0);
  std::fwrite("KLARWELL", 1, 8, f);
  std::fclose(f);

  TWavRecord input;
  ASSERT_TRUE(OpenWav(in, input)) << input.ErrorMsg;
  EXPECT_EQ(input.NumFrames, dataBytes / 4);
  char got[8] = {};
  std::string msg;
  ASSERT_TRUE(ReadWavData(input, got, farPos, 8, msg)) << msg;
  EXPECT_EQ(std::string(got, 8), "KLARWELL");

  TWavRecord output;
  output.Format = input.Format;
  ASSERT_TRUE(CreateWav(Path("bigout.wav"), output));
  ASSERT_TRUE(WriteWavData(output, "WRITTEN!", farPos, 8, 0, msg)) << msg;
  ASSERT_TRUE(CloseWavWithTail(output, input)) << output.ErrorMsg;
  TWavRecord back;
  ASSERT_TRUE(OpenWav(Path("bigout.wav"), back)) << back.ErrorMsg;
  EXPECT_EQ(back.DataSize, farPos + 8);
  ASSERT_TRUE(ReadWavData(back, got, farPos, 8, msg)) << msg;
  EXPECT_EQ(std::string(got, 8), "WRITTEN!");
}

// Data past 4 GiB cannot be described by the 32-bit size field: finishing says so instead of
// writing a wrapped size.
TEST_F(WavFileTest, DataSizeBeyondFourGiBFailsToFinish) {
  TWavRecord output;
  output.Format.wFormatTag = 1;
  output.Format.nChannels = 1;
  output.Format.nSamplesPerSec = 44100;
  output.Format.nBlockAlign = 2;
  ASSERT_TRUE(CreateWav(Path("huge.wav"), output));
  std::string msg;
  ASSERT_TRUE(WriteWavData(output, "xx", 1ull << 32, 2, 0, msg)) << msg;
  EXPECT_FALSE(CloseWav(output));
  EXPECT_EQ(output.ErrorMsg, "Error ascending DATA chunk");
  EXPECT_FALSE(output.IsOpen());
}

TEST_F(WavFileTest, MessagesExistInGerman) {
  SetLanguage(TLanguage::German);
  struct TCase {
    TBytes Bytes;
    const char* Message;
  };
  const TCase cases[] = {
      {TBytes(20, 0), "Keine Wav-Riff-Datei"},
      {TWavBuilder().Data(Ramp(4)).Bytes(), "Keine Format gefunden"},
      {TWavBuilder().Fmt(TFmtFields::Pcm(1, 2), 16).Bytes(), "Kann Format nicht lesen"},
      {TWavBuilder().Fmt(TFmtFields::Pcm(1, 2)).Chunk("LIST", Ramp(4)).Bytes(), "Kann Data nicht finden"},
      {TWavBuilder().Fmt(TFmtFields::Pcm(1, 5)).Data(Ramp(10)).Bytes(), "Nicht unterstütztes Format"},
      {TWavBuilder().Fmt(TFmtFields::Pcm(3, 2)).Data(Ramp(12)).Bytes(), "Nicht unterstützte Kanalanzahl"},
      {TWavBuilder().Fmt(TFmtFields::Pcm(1, 2)).Data({}).Bytes(), "Keine Daten vorhanden"},
  };
  for (const TCase& c : cases) EXPECT_EQ(OpenMessage(c.Bytes), c.Message);
  TWavRecord rec;
  EXPECT_FALSE(OpenWav(Path("missing.wav"), rec));
  EXPECT_EQ(rec.ErrorMsg, "Fehler beim Öffnen");
  std::string msg;
  char buf[4];
  EXPECT_FALSE(ReadWavData(rec, buf, 0, 4, msg));
  EXPECT_EQ(msg, "Fehler beim Dateiposition setzen");
}

TEST(WavTextTest, FormatDurationAndHMS) {
  struct THms {
    int32_t Seconds;
    const char* Text;
  };
  const THms hms[] = {{0, "00:00:00"},    {5, "00:00:05"},    {59, "00:00:59"},    {60, "00:01:00"},
                      {3725, "01:02:05"}, {3600, "01:00:00"}, {86399, "23:59:59"}, {360000, "100:00:00"},
                      {-5, "00:00:-5"},   {-3725, "-1:-2:-5"}};
  for (const THms& c : hms) EXPECT_EQ(SecondsToHMS(c.Seconds), c.Text) << c.Seconds;

  struct TDur {
    uint32_t Frames, Rate;
    const char* Text;
  };
  // Halves go to even: 2.5 s shows 2, 3.5 s shows 4, 1.5 s shows 2.
  const TDur durations[] = {{44100, 44100, "00:00:01"},  {110250, 44100, "00:00:02"},
                            {154350, 44100, "00:00:04"}, {66150, 44100, "00:00:02"},
                            {0, 44100, "00:00:00"},      {0xFFFFFFFFu, 1, "596523:14:07"},
                            {1000, 0, "00:00:00"}};
  for (const TDur& c : durations) {
    TWavRecord rec;
    rec.NumFrames = c.Frames;
    rec.Format.nSamplesPerSec = c.Rate;
    EXPECT_EQ(WavDurationText(rec), c.Text) << c.Frames << "/" << c.Rate;
  }
}

TEST(WavRecordTest, MovedRecordKeepsTheFileAndDestructionFinishesIt) {
  std::string dir = test::MakeTempDir();
  std::string path = dir + "/moved.wav";
  {
    TWavRecord a;
    a.Format.wFormatTag = 1;
    a.Format.nChannels = 1;
    a.Format.nBlockAlign = 1;
    a.Format.nSamplesPerSec = 8000;
    ASSERT_TRUE(CreateWav(path, a));
    TWavRecord b(std::move(a));
    EXPECT_FALSE(a.IsOpen());
    EXPECT_TRUE(b.IsOpen());
    std::string msg;
    EXPECT_TRUE(WriteWavData(b, "abc", 0, 3, 0, msg));
  }
  TWavRecord back;
  EXPECT_TRUE(OpenWav(path, back)) << back.ErrorMsg;
  EXPECT_EQ(back.DataSize, 3u);
  CloseWav(back);
  std::filesystem::remove_all(dir);
}

// Every file of the shared corpus gets the answer of our own rules, without crash, hang or a large
// allocation (sizes claimed in the fuzz files run to gigabytes).
TEST(WavCorpusTest, EveryFileOpensOrIsRefusedByOurRules) {
  std::string corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus beside the source tree";
  SetLanguage(TLanguage::English);
  struct TCase {
    const char* File;        // relative path; a final '*' matches any rest of it
    const char* Message;     // "" when it opens
    const char* FormatText;  // when it opens
    uint32_t Frames;
  };
  const TCase cases[] = {
      {"hound/fuzz/crash-24728523ef4be15c838293b676f6853e73723bf4.wav", "Cannot read format", "", 0},
      {"hound/fuzz/crash-b8447179832529c48f9c6bf17feab6337bbc78ea.wav", "Cannot find data", "", 0},
      {"hound/fuzz/crash-cbd757427cea12bd8a21f86cd8cf74d98ce56bee.wav", "Cannot find data", "", 0},
      {"hound/fuzz/crash-e5471f5b58397287b509db7d026e95f1724454f5.wav", "Unsupported format", "", 0},
      {"hound/fuzz/crash-e879de4eb4d206c59e21f0e01def16457af80fdc.wav", "Format not found", "", 0},
      {"hound/fuzz/oom-48ae4cd061ff8578ad3f23dc87624bd365cf5216.wav", "Format not found", "", 0},
      {"hound/nonstandard-01.wav", "", "48000/3/PCM", 1},
      {"hound/nonstandard-02.wav", "", "48000/4/PCM", 2},
      {"hound/pcmwaveformat-16bit-44100Hz-mono-extra.wav", "", "44100/2/PCM", 4},
      {"hound/pcmwaveformat-16bit-44100Hz-mono.wav", "", "44100/2/PCM", 4},
      {"hound/pcmwaveformat-24bit-4byte-48kHz-stereo.wav", "", "48000/4/PCM", 2},
      {"hound/pcmwaveformat-8bit-44100Hz-mono.wav", "", "44100/1/PCM", 4},
      {"hound/pop.wav", "", "44100/2/PCM", 100},
      {"hound/waveformatex-16bit-44100Hz-mono-extra.wav", "", "44100/2/PCM", 4},
      {"hound/waveformatex-16bit-44100Hz-mono.wav", "", "44100/2/PCM", 4},
      {"hound/waveformatex-16bit-44100Hz-stereo.wav", "", "44100/2/PCM", 4},
      {"hound/waveformatex-8bit-11025Hz-mono.wav", "", "11025/1/PCM", 4},
      {"hound/waveformatex-ieeefloat-44100Hz-mono.wav", "", "44100/4/IEEE", 4},
      {"hound/waveformatextensible-24bit-192kHz-mono.wav", "", "192000/3/PCM", 4},
      {"hound/waveformatextensible-24bit-4byte-48kHz-stereo.wav", "", "48000/4/PCM", 2},
      {"hound/waveformatextensible-32bit-48kHz-stereo.wav", "", "48000/4/PCM", 2},
      {"hound/waveformatextensible-ieeefloat-44100Hz-mono.wav", "", "44100/4/IEEE", 4},
      {"wavefile/invalid/bad_riff_header.wav", "No Wav file", "", 0},
      {"wavefile/invalid/bad_wavefile_format.wav", "No Wav file", "", 0},
      {"wavefile/invalid/data_chunk_ends_after_chunk_id.wav", "Cannot find data", "", 0},
      {"wavefile/invalid/data_chunk_has_incomplete_chunk_size.wav", "Cannot find data", "", 0},
      {"wavefile/invalid/data_chunk_truncated.wav", "", "44100/1/PCM", 2240},
      {"wavefile/invalid/empty.wav", "No Wav file", "", 0},
      {"wavefile/invalid/empty_format_chunk.wav", "Cannot read format", "", 0},
      {"wavefile/invalid/extensible_format_chunk_extension_incomplete.wav", "Cannot read format", "", 0},
      {"wavefile/invalid/extensible_format_chunk_extension_incomplete_in_incorrectly_sized_chunk.wav",
       "Cannot read format", "", 0},
      {"wavefile/invalid/extensible_format_chunk_extension_incomplete_in_large_enough_chunk.wav",
       "Cannot read format", "", 0},
      {"wavefile/invalid/extensible_format_chunk_extension_missing.wav", "Cannot read format", "", 0},
      {"wavefile/invalid/extensible_format_chunk_extension_size_incomplete.wav", "Cannot read format", "", 0},
      {"wavefile/invalid/extensible_format_chunk_extension_size_incomplete_with_padding_byte.wav",
       "Cannot read format", "", 0},
      {"wavefile/invalid/extensible_format_chunk_extension_truncated.wav", "Cannot find data", "", 0},
      {"wavefile/invalid/extensible_format_chunk_oversized_extension_too_large.wav", "Cannot read format", "",
       0},
      {"wavefile/invalid/float_format_chunk_extension_size_incomplete.wav", "Cannot find data", "", 0},
      {"wavefile/invalid/float_format_chunk_extension_size_incomplete_with_padding_byte.wav", "",
       "44100/4/IEEE", 2240},
      {"wavefile/invalid/float_format_chunk_oversized_extension_too_large.wav", "Cannot find data", "", 0},
      {"wavefile/invalid/format_chunk_after_data_chunk.wav", "Cannot read format", "", 0},
      {"wavefile/invalid/format_chunk_extra_bytes_with_odd_size_and_missing_padding_byte.wav",
       "Cannot find data", "", 0},
      {"wavefile/invalid/format_chunk_with_extra_byte_and_missing_padding_byte.wav", "Cannot find data", "",
       0},
      {"wavefile/invalid/incomplete_riff_format.wav", "No Wav file", "", 0},
      {"wavefile/invalid/incomplete_riff_header.wav", "No Wav file", "", 0},
      {"wavefile/invalid/insufficient_format_chunk.wav", "Cannot read format", "", 0},
      {"wavefile/invalid/no_data_chunk.wav", "Cannot read format", "", 0},
      {"wavefile/invalid/no_format_chunk_size.wav", "Format not found", "", 0},
      {"wavefile/invalid/no_riff_format.wav", "No Wav file", "", 0},
      {"wavefile/invalid/riff_chunk_has_incomplete_chunk_size.wav", "No Wav file", "", 0},
      {"wavefile/invalid/riff_chunk_has_no_child_chunks.wav", "Format not found", "", 0},
      {"wavefile/invalid/smpl_chunk_empty.wav", "", "44100/2/PCM", 2240},
      {"wavefile/invalid/smpl_chunk_loop_count_too_high.wav", "", "44100/2/PCM", 2240},
      {"wavefile/invalid/smpl_chunk_truncated.wav", "", "44100/2/PCM", 2240},
      {"wavefile/invalid/smpl_chunk_truncated_sampler_*", "", "44100/2/PCM", 2240},
      {"wavefile/invalid/unsupported_format_extension_size_incomplete.wav", "Cannot find data", "", 0},
      {"wavefile/invalid/unsupported_format_extension_size_incomplete_with_padding_byte.wav",
       "Unsupported format", "", 0},
      {"wavefile/invalid/unsupported_format_extension_truncated.wav", "Cannot find data", "", 0},
      {"wavefile/invalid/unsupported_format_oversized_extension_too_large.wav", "Cannot find data", "", 0},
      {"wavefile/unsupported/bad_channel_count.wav", "Unsupported nr. of channels", "", 0},
      {"wavefile/unsupported/bad_sample_rate.wav", "Unsupported format", "", 0},
      {"wavefile/unsupported/extensible_container_size_bigger_than_sample_size.wav", "", "44100/4/PCM", 2240},
      {"wavefile/unsupported/extensible_unsupported_subformat_guid.wav", "Unsupported format", "", 0},
      {"wavefile/unsupported/unsupported_audio_format.wav", "Unsupported format", "", 0},
      {"wavefile/unsupported/unsupported_bits_per_sample.wav", "No Data", "", 0},
      {"wavefile/unsupported/unsupported_format_code_missing_extension_size.wav", "Unsupported format", "",
       0},
      {"wavefile/unsupported/unsupported_format_code_with_extension.wav", "Unsupported format", "", 0},
      {"wavefile/unsupported/unsupported_format_code_with_extension_and_extra_bytes.wav",
       "Unsupported format", "", 0},
      {"wavefile/unsupported/unsupported_format_code_with_incomplete_extension.wav", "Unsupported format", "",
       0},
      {"wavefile/unsupported/unsupported_format_code_with_oversized_extension.wav", "Unsupported format", "",
       0},
      {"wavefile/unsupported/unsupported_format_code_with_oversized_extension_and_extra_bytes.wav",
       "Unsupported format", "", 0},
      {"wavefile/valid/extensible_20_pcm_16_44100_speaker_mapping_overflow.wav",
       "Unsupported nr. of channels", "", 0},
      {"wavefile/valid/extensible_format_chunk_oversized_extension.wav", "Cannot read format", "", 0},
      {"wavefile/valid/extensible_format_chunk_oversized_extension_and_extra_bytes.wav", "Cannot read format",
       "", 0},
      {"wavefile/valid/extensible_format_chunk_with_extra_bytes.wav", "", "44100/1/PCM", 2240},
      {"wavefile/valid/extensible_mono_float_32_44100.wav", "", "44100/4/IEEE", 2240},
      {"wavefile/valid/extensible_mono_float_64_44100.wav", "Unsupported format", "", 0},
      {"wavefile/valid/extensible_mono_pcm_16_44100.wav", "", "44100/2/PCM", 2240},
      {"wavefile/valid/extensible_mono_pcm_16_44100_non_default_speaker_mapping.wav", "", "44100/2/PCM",
       2240},
      {"wavefile/valid/extensible_mono_pcm_24_44100.wav", "", "44100/3/PCM", 2240},
      {"wavefile/valid/extensible_mono_pcm_32_44100.wav", "", "44100/4/PCM", 2240},
      {"wavefile/valid/extensible_mono_pcm_8_44100.wav", "", "44100/1/PCM", 2240},
      {"wavefile/valid/extensible_stereo_float_32_44100.wav", "", "44100/4/IEEE", 2240},
      {"wavefile/valid/extensible_stereo_float_64_44100.wav", "Unsupported format", "", 0},
      {"wavefile/valid/extensible_stereo_pcm_16_44100.wav", "", "44100/2/PCM", 2240},
      {"wavefile/valid/extensible_stereo_pcm_16_44100_center_right_speakers.wav", "", "44100/2/PCM", 2240},
      {"wavefile/valid/extensible_stereo_pcm_16_44100_more_speakers_than_channels.wav", "", "44100/2/PCM",
       2240},
      {"wavefile/valid/extensible_stereo_pcm_16_44100_more_speakers_than_defined_*", "", "44100/2/PCM", 2240},
      {"wavefile/valid/extensible_stereo_pcm_16_44100_only_undefined_high_bit_speakers.wav", "",
       "44100/2/PCM", 2240},
      {"wavefile/valid/extensible_stereo_pcm_24_44100.wav", "", "44100/3/PCM", 2240},
      {"wavefile/valid/extensible_stereo_pcm_24_44100_incomplete_speaker_mapping.wav", "", "44100/3/PCM",
       2240},
      {"wavefile/valid/extensible_stereo_pcm_24_44100_no_speaker_mapping.wav", "", "44100/3/PCM", 2240},
      {"wavefile/valid/extensible_stereo_pcm_32_44100.wav", "", "44100/4/PCM", 2240},
      {"wavefile/valid/extensible_stereo_pcm_8_44100.wav", "", "44100/1/PCM", 2240},
      {"wavefile/valid/extensible_tri_float_32_44100.wav", "Unsupported nr. of channels", "", 0},
      {"wavefile/valid/extensible_tri_float_64_44100.wav", "Unsupported format", "", 0},
      {"wavefile/valid/extensible_tri_pcm_16_44100.wav", "Unsupported nr. of channels", "", 0},
      {"wavefile/valid/extensible_tri_pcm_16_44100_custom_speaker_mapping.wav", "Unsupported nr. of channels",
       "", 0},
      {"wavefile/valid/extensible_tri_pcm_24_44100.wav", "Unsupported nr. of channels", "", 0},
      {"wavefile/valid/extensible_tri_pcm_32_44100.wav", "Unsupported nr. of channels", "", 0},
      {"wavefile/valid/extensible_tri_pcm_8_44100.wav", "Unsupported nr. of channels", "", 0},
      {"wavefile/valid/float_format_chunk_missing_extension_size.wav", "", "44100/4/IEEE", 2240},
      {"wavefile/valid/float_format_chunk_oversized_extension.wav", "", "44100/4/IEEE", 2240},
      {"wavefile/valid/float_format_chunk_oversized_extension_and_extra_bytes.wav", "", "44100/4/IEEE", 2240},
      {"wavefile/valid/float_format_chunk_with_extra_bytes.wav", "", "44100/4/IEEE", 2240},
      {"wavefile/valid/format_chunk_extra_bytes_with_odd_size_and_padding_byte.wav", "", "44100/1/PCM", 2240},
      {"wavefile/valid/format_chunk_with_extra_byte_and_padding_byte.wav", "", "44100/1/PCM", 2240},
      {"wavefile/valid/format_chunk_with_extra_bytes.wav", "", "44100/1/PCM", 2240},
      {"wavefile/valid/mono_float_32_44100.wav", "", "44100/4/IEEE", 2240},
      {"wavefile/valid/mono_float_64_44100.wav", "Unsupported format", "", 0},
      {"wavefile/valid/mono_pcm_16_44100.wav", "", "44100/2/PCM", 2240},
      {"wavefile/valid/mono_pcm_16_44100_junk_chunk_final_chunk_missing_padding_byte.wav", "", "44100/2/PCM",
       2240},
      {"wavefile/valid/mono_pcm_16_44100_junk_chunk_with_padding_byte.wav", "", "44100/2/PCM", 2240},
      {"wavefile/valid/mono_pcm_16_44100_with_extension.wav", "", "44100/2/PCM", 2240},
      {"wavefile/valid/mono_pcm_24_44100.wav", "", "44100/3/PCM", 2240},
      {"wavefile/valid/mono_pcm_32_44100.wav", "", "44100/4/PCM", 2240},
      {"wavefile/valid/mono_pcm_8_44100.wav", "", "44100/1/PCM", 2240},
      {"wavefile/valid/mono_pcm_8_44100_with_padding_byte.wav", "", "44100/1/PCM", 2241},
      {"wavefile/valid/no_samples.wav", "No Data", "", 0},
      {"wavefile/valid/stereo_float_32_44100.wav", "", "44100/4/IEEE", 2240},
      {"wavefile/valid/stereo_float_64_44100.wav", "Unsupported format", "", 0},
      {"wavefile/valid/stereo_pcm_16_44100.wav", "", "44100/2/PCM", 2240},
      {"wavefile/valid/stereo_pcm_24_44100.wav", "", "44100/3/PCM", 2240},
      {"wavefile/valid/stereo_pcm_32_44100.wav", "", "44100/4/PCM", 2240},
      {"wavefile/valid/stereo_pcm_8_44100.wav", "", "44100/1/PCM", 2240},
      {"wavefile/valid/tri_float_32_44100.wav", "Unsupported nr. of channels", "", 0},
      {"wavefile/valid/tri_float_64_44100.wav", "Unsupported format", "", 0},
      {"wavefile/valid/tri_pcm_16_44100.wav", "Unsupported nr. of channels", "", 0},
      {"wavefile/valid/tri_pcm_24_44100.wav", "Unsupported nr. of channels", "", 0},
      {"wavefile/valid/tri_pcm_32_44100.wav", "Unsupported nr. of channels", "", 0},
      {"wavefile/valid/tri_pcm_8_44100.wav", "Unsupported nr. of channels", "", 0},
      {"wavefile/valid/with_multiple_smpl_chunks_after_data_chunk.wav", "", "44100/1/PCM", 2240},
      {"wavefile/valid/with_multiple_smpl_chunks_before_and_after_data_chunk.wav", "", "44100/1/PCM", 2240},
      {"wavefile/valid/with_multiple_smpl_chunks_before_data_chunk.wav", "", "44100/1/PCM", 2240},
      {"wavefile/valid/with_smpl_chunk_after_data_chunk.wav", "", "44100/2/PCM", 2240},
      {"wavefile/valid/with_smpl_chunk_after_data_chunk_and_data_chunk_has_padding_byte.wav", "",
       "44100/1/PCM", 2241},
      {"wavefile/valid/with_smpl_chunk_before_data_chunk.wav", "", "44100/2/PCM", 2240},
      {"wavefile/valid/with_smpl_chunk_no_loops.wav", "", "44100/2/PCM", 2240},
      {"wavefile/valid/with_smpl_chunk_with_extra_unused_bytes.wav", "", "44100/2/PCM", 2240},
      {"wavefile/valid/with_smpl_chunk_with_fields_out_of_range.wav", "", "44100/2/PCM", 2240},
      {"wavefile/valid/with_smpl_chunk_with_sampler_*", "", "44100/2/PCM", 2240},
  };
  std::vector<std::string> onDisk;
  for (const auto& e : std::filesystem::recursive_directory_iterator(corpus))
    if (e.path().extension() == ".wav")
      onDisk.push_back(std::filesystem::relative(e.path(), corpus).string());
  std::vector<int> matched(onDisk.size(), 0);

  struct rusage before {};
  getrusage(RUSAGE_SELF, &before);
  for (const TCase& c : cases) {
    std::string pattern = c.File;
    bool prefix = !pattern.empty() && pattern.back() == '*';
    if (prefix) pattern.pop_back();
    int hits = 0;
    for (size_t i = 0; i < onDisk.size(); ++i) {
      if (prefix ? onDisk[i].rfind(pattern, 0) != 0 : onDisk[i] != pattern) continue;
      ++hits;
      ++matched[i];
      TWavRecord rec;
      bool ok = OpenWav(corpus + "/" + onDisk[i], rec);
      EXPECT_EQ(ok ? std::string() : rec.ErrorMsg, c.Message) << onDisk[i];
      if (ok) {
        EXPECT_EQ(WavFormatText(rec), c.FormatText) << onDisk[i];
        EXPECT_EQ(rec.NumFrames, c.Frames) << onDisk[i];
        // Every frame it claims can be read.
        std::vector<uint8_t> all(static_cast<size_t>(rec.NumFrames) * rec.Format.nBlockAlign);
        std::string msg;
        EXPECT_TRUE(ReadWavData(rec, all.data(), 0, static_cast<uint32_t>(all.size()), msg))
            << onDisk[i] << msg;
      }
    }
    EXPECT_LE(hits, 1) << c.File << " names more than one file";
  }
  struct rusage after {};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes of peak memory growth";
  // Every file of the corpus has its expectation.
  EXPECT_GT(onDisk.size(), 100u);
  for (size_t i = 0; i < onDisk.size(); ++i) EXPECT_EQ(matched[i], 1) << onDisk[i];
}

}  // namespace
}  // namespace klarwell
