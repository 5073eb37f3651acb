// Outputs in the input's own container: FLAC through its encoder; RF64 and AIFF as a copy of the
// input's header, the samples, the input's trailing chunks, and the sizes filled in at the end.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "audio/FileDetail.h"

namespace klarwell::detail {

namespace {

// Patches `bytes` at `position` of the output; false when the write fails.
bool Patch(TChunkFile& file, uint64_t position, const uint8_t* bytes, uint64_t count) {
  return file.Seek(position) && file.Write(bytes, count) == static_cast<int64_t>(count);
}

bool PatchAiffSizes(TWavRecord& out, uint64_t formSize, uint64_t framesField, uint64_t dataBytes) {
  TChunkFile& file = *out.Handle;
  const uint64_t ssndSize = out.DataOffset + dataBytes - out.DataChunk.DataOffset;
  if (formSize > std::numeric_limits<uint32_t>::max() || ssndSize > std::numeric_limits<uint32_t>::max())
    return false;
  uint8_t field[4];
  PutBe32(field, static_cast<uint32_t>(formSize));
  bool ok = Patch(file, 4, field, 4);
  PutBe32(field, static_cast<uint32_t>(dataBytes / out.Format.nBlockAlign));
  ok = ok && Patch(file, framesField, field, 4);
  PutBe32(field, static_cast<uint32_t>(ssndSize));
  return ok && Patch(file, out.DataChunk.DataOffset - 4, field, 4);
}

bool PatchRf64Sizes(TWavRecord& out, uint64_t formSize, uint64_t dataBytes) {
  TChunkFile& file = *out.Handle;
  uint8_t ds64[24];
  Put64(ds64, formSize);
  Put64(ds64 + 8, dataBytes);
  Put64(ds64 + 16, dataBytes / out.Format.nBlockAlign);
  const uint8_t deferred[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  return Patch(file, 4, deferred, 4) && Patch(file, out.FramesField, ds64, sizeof ds64) &&
         Patch(file, out.DataChunk.DataOffset - 4, deferred, 4);
}

}  // namespace

bool CreateLikeInput(const std::string& fileName, TWavRecord& rec, TWavRecord& in) {
  rec.Container = in.Container;
  rec.FormType = in.FormType;
  rec.Format = in.Format;
  rec.BytesPerSample = in.BytesPerSample;
  rec.PcmSubFormat = in.PcmSubFormat;
  rec.SwapBytes = in.SwapBytes;
  rec.SignedBytes = in.SignedBytes;
  const bool created = in.Container == TContainer::Flac
                           ? CreateFlac(rec, in)
                           : CopyBytes(*in.Handle, *rec.Handle, 0, in.DataOffset);
  if (!created) {
    // A header that cannot be written whole leaves no file behind.
    const int reason = errno;
    Fail(rec, MsgCreateError, reason);
    ::unlink(fileName.c_str());
    return false;
  }
  // The header is the input's, so every position in it is the input's too.
  rec.DataOffset = in.DataOffset;
  rec.DataChunk.DataOffset = in.DataChunk.DataOffset;
  rec.FramesField = in.FramesField;
  return true;
}

bool FinishSized(TWavRecord& out, TWavRecord* in) {
  TChunkFile& file = *out.Handle;
  const uint64_t dataEnd = std::max(file.FileSize(), out.DataOffset);
  const uint64_t dataBytes = dataEnd - out.DataOffset;
  const uint8_t zero = 0;
  bool ok = file.Seek(dataEnd);
  // The data chunk's pad byte (its size counts from its own header's end).
  if (ok && ((dataEnd - out.DataChunk.DataOffset) & 1u) != 0) ok = file.Write(&zero, 1) == 1;
  uint64_t framesField = out.FramesField;
  if (ok && in != nullptr && in->IsOpen() && in->TailStart != 0) {
    const uint64_t tailAt = file.Position();
    const uint64_t tailEnd = std::min(in->TailEnd, in->Handle->FileSize());
    // The copy is all or nothing and its failure silent, as for a WAV.
    if (CopyBytes(*in->Handle, file, in->TailStart, tailEnd) && in->FramesField > in->TailStart)
      framesField = in->FramesField - in->TailStart + tailAt;
  }
  if (ok && (file.Position() & 1u) != 0) ok = file.Write(&zero, 1) == 1;
  const uint64_t formSize = file.Position() - 8;
  if (ok)
    ok = out.Container == TContainer::Aiff ? PatchAiffSizes(out, formSize, framesField, dataBytes)
                                           : PatchRf64Sizes(out, formSize, dataBytes);
  if (!ok) return Fail(out, MsgAscendData, errno);
  return true;
}

}  // namespace klarwell::detail
