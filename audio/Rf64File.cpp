// Reading RF64 and BW64 files: a WAV whose form and data sizes live in a "ds64" chunk.

#include <algorithm>
#include <cstdint>

#include "audio/FileDetail.h"

namespace klarwell::detail {

namespace {

const TTextPair kSizesDisagree = {"RF64-Größen passen nicht zur Datei", "RF64 sizes do not match the file"};

constexpr uint32_t IdWave = MakeFourCC('W', 'A', 'V', 'E');
constexpr uint32_t IdDs64 = MakeFourCC('d', 's', '6', '4');
constexpr uint32_t IdFmt = MakeFourCC('f', 'm', 't', ' ');
constexpr uint32_t IdData = MakeFourCC('d', 'a', 't', 'a');
// A 32-bit size field that defers to the "ds64" chunk.
constexpr uint32_t SizeInDs64 = 0xFFFFFFFFu;

struct TDs64 {
  uint64_t RiffSize = 0, DataSize = 0;
};

// The "fmt " chunk's format block, read as a WAV reader reads it.
bool ReadFormat(TWavRecord& rec, TChunkFile& file, TWavMsg& why) {
  uint8_t block[40];
  why = MsgCannotReadFormat;
  if (file.Read(block, 18) != 18) return false;
  ParseBase(block, rec.Format);
  if (rec.Format.wFormatTag == WaveFormatExtensible) {
    if (rec.Format.cbSize != 22 || file.Read(block + 18, 22) != 22) return false;
    ParseExtension(block + 18, rec.Format);
  } else {
    rec.Format.cbSize = 0;
  }
  return true;
}

// The checks of the WAV reader, in its order.
bool CheckFormat(TWavRecord& rec, TWavMsg& why) {
  why = MsgUnsupportedChannels;
  if (rec.Format.nChannels == 0) return false;
  const unsigned bytesPerSample = rec.Format.nBlockAlign / rec.Format.nChannels;
  rec.BytesPerSample = static_cast<uint8_t>(bytesPerSample);
  why = MsgUnsupportedFormat;
  if (!FormatAccepted(rec, bytesPerSample)) return false;
  why = MsgUnsupportedChannels;
  return rec.Format.nChannels == 1 || rec.Format.nChannels == 2;
}

}  // namespace

bool OpenRf64(TWavRecord& rec) {
  TChunkFile& file = *rec.Handle;
  uint8_t header[12 + 8 + 24];
  if (!file.Seek(0) || file.Read(header, 12) != 12 || Le32(header + 8) != IdWave)
    return Fail(rec, MsgNoWavFile);
  rec.Container = TContainer::Rf64;
  rec.FormType = Le32(header);
  // The "ds64" chunk comes first, where it can be filled in once the sizes are known.
  if (file.Read(header + 12, 32) != 32 || Le32(header + 12) != IdDs64 || Le32(header + 16) < 24)
    return Fail(rec, kSizesDisagree);
  TDs64 ds64{Le64(header + 20), Le64(header + 28)};
  rec.FramesField = 20;
  const uint32_t riffField = Le32(header + 4);
  const uint64_t formEnd = 8 + (riffField == SizeInDs64 ? ds64.RiffSize : riffField);
  const uint64_t fileSize = file.FileSize();
  // A form that claims more than the file holds is cut or mislabelled; either way its sizes lie.
  if (formEnd > fileSize + 1) return Fail(rec, kSizesDisagree);
  rec.HeadStart = 12;

  bool haveFmt = false, haveData = false;
  uint64_t dataSize = 0;
  for (uint64_t at = 12; at + 8 <= formEnd && !haveData;) {
    uint8_t chunk[8];
    if (!file.Seek(at) || file.Read(chunk, 8) != 8) break;
    const uint32_t id = Le32(chunk), size = Le32(chunk + 4);
    if (id == IdData) {
      if (!haveFmt) break;
      dataSize = size == SizeInDs64 ? ds64.DataSize : size;
      rec.DataOffset = at + 8;
      if (rec.DataOffset + dataSize > formEnd) return Fail(rec, kSizesDisagree);
      haveData = true;
      break;
    }
    const uint64_t end = at + 8 + size;
    if (end > formEnd) break;
    if (id == IdFmt && !haveFmt) {
      TWavMsg why;
      if (!ReadFormat(rec, file, why)) return Fail(rec, why);
      haveFmt = true;
      rec.FmtStart = at;
      rec.FmtEnd = end + (size & 1u);
    }
    at = end + (size & 1u);
  }
  if (!haveFmt) return Fail(rec, MsgFormatNotFound);
  if (!haveData) return Fail(rec, MsgCannotFindData);
  TWavMsg why;
  if (!CheckFormat(rec, why)) return Fail(rec, why);
  rec.DataChunk.DataOffset = rec.DataOffset;
  if (dataSize / rec.Format.nBlockAlign > MaxFrames) return Fail(rec, MsgUnsupportedFormat);
  rec.NumFrames = static_cast<uint32_t>(dataSize / rec.Format.nBlockAlign);
  rec.DataSize = uint64_t{rec.NumFrames} * rec.Format.nBlockAlign;
  if (rec.DataSize == 0) return Fail(rec, MsgNoData);

  // The chunks after the data are only noted, for the writer to copy.
  for (uint64_t at = rec.DataOffset + dataSize + (dataSize & 1u); at + 8 <= formEnd;) {
    uint8_t chunk[8];
    if (!file.Seek(at) || file.Read(chunk, 8) != 8) break;
    const uint64_t end = at + 8 + Le32(chunk + 4);
    if (end > std::min(formEnd, fileSize)) break;
    if (rec.TailStart == 0) rec.TailStart = at;
    rec.TailEnd = end;
    at = end + (Le32(chunk + 4) & 1u);
  }
  return true;
}

}  // namespace klarwell::detail
