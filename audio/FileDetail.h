#pragma once

// What the container readers and writers share: the messages, the byte order helpers, the format
// check and the bounded byte copy. Internal to audio/.

#include <cstdint>
#include <string>

#include "audio/WavFile.h"
#include "text/LangText.h"

namespace klarwell::detail {

enum TWavMsg {
  MsgOpenError,
  MsgNoWavFile,
  MsgFormatNotFound,
  MsgCannotReadFormat,
  MsgCannotFindData,
  MsgUnsupportedFormat,
  MsgUnsupportedChannels,
  MsgNoData,
  MsgCreateError,
  MsgCreateWave,
  MsgCreateFmt,
  MsgWriteFmt,
  MsgAscendFmt,
  MsgCreateData,
  MsgAscendData,
  MsgAscendWave,
  MsgSeek,
  MsgRead,
  MsgWrite,
  MsgCount
};

// A message text in the current language, cut to the record's 255 characters.
std::string Message(TWavMsg key);
std::string Message(const TTextPair& text);

// Closes the record's file and leaves `message` (and errno's value) in it; always false.
bool Fail(TWavRecord& rec, TWavMsg key, int errorNumber = 0);
bool Fail(TWavRecord& rec, const TTextPair& text, int errorNumber = 0);

// Empties every field but the handle, which the caller has closed already.
void ClearFields(TWavRecord& rec);

// Whether the format is one the codec handles; sets PcmSubFormat for the extensible form.
bool FormatAccepted(TWavRecord& rec, unsigned bytesPerSample);

// Offsets 0..17 and 18..39 of the wave format block.
void ParseBase(const uint8_t* p, TWaveFormat& f);
void ParseExtension(const uint8_t* p, TWaveFormat& f);

// Copies the input's bytes [from, to) to the output's current position, in bounded pieces. False
// (with what was written taken back) when a piece cannot be read or written whole.
bool CopyBytes(TChunkFile& in, TChunkFile& out, uint64_t from, uint64_t to);

// The most frames a file may hold: the engine numbers frames with 32-bit signed positions. A longer
// file is refused rather than cut short without a word.
constexpr uint64_t MaxFrames = 0x7FFFFFFF;

// A simple format record for integer PCM (or 32-bit float) of the given shape.
TWaveFormat PlainFormat(uint16_t channels, uint32_t sampleRate, unsigned bytesPerSample, bool isFloat);

inline uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t Le64(const uint8_t* p) {
  return static_cast<uint64_t>(Le32(p)) | static_cast<uint64_t>(Le32(p + 4)) << 32;
}
inline uint16_t Be16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Four-character code as it reads in a big-endian (AIFF) file: first character in the highest byte.
constexpr uint32_t MakeBeFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8 | static_cast<uint32_t>(static_cast<uint8_t>(d));
}

// The container readers and writers, called by WavFile's entry points once the magic is known.
bool OpenRf64(TWavRecord& rec);
bool OpenAiff(TWavRecord& rec);
bool OpenFlac(TWavRecord& rec);
// Output creation with the input's container; the record's file is open for writing already.
bool CreateLikeInput(const std::string& fileName, TWavRecord& rec, TWavRecord& in);
bool CreateFlac(TWavRecord& rec, TWavRecord& in);
// Finishing an RF64 or AIFF output: pad, the input's trailing chunks, sizes patched.
bool FinishSized(TWavRecord& out, TWavRecord* in);
// Turns AIFF sample bytes into a WAV data chunk's and back (the change is its own inverse).
void TurnAiffSamples(const TWavRecord& rec, uint8_t* p, size_t bytes);
// Writes raw little-endian frames into an AIFF file, turned into its byte order on the way.
bool WriteAiffData(const TWavRecord& rec, const void* src, uint64_t position, uint32_t count,
                   std::string& msg, int* errorNumber);

}  // namespace klarwell::detail
