#include "audio/WavFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "audio/FileDetail.h"
#include "audio/FlacFile.h"
#include "text/LangText.h"

namespace klarwell {

const uint8_t SubFormatPcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                  0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const uint8_t SubFormatIeeeFloat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                        0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

namespace detail {

const TTextPair WavMessages[MsgCount] = {
    {"Fehler beim Öffnen", "Open error"},
    {"Keine Wav-Riff-Datei", "No Wav file"},
    {"Keine Format gefunden", "Format not found"},
    {"Kann Format nicht lesen", "Cannot read format"},
    {"Kann Data nicht finden", "Cannot find data"},
    {"Nicht unterstütztes Format", "Unsupported format"},
    {"Nicht unterstützte Kanalanzahl", "Unsupported nr. of channels"},
    {"Keine Daten vorhanden", "No Data"},
    {"Fehler beim Anlegen", "Create error"},
    {"Fehler beim chunk WAVE anlegen", "Cannot create WAVE chunk"},
    {"Fehler beim chunk FMT anlegen", "Cannot create FMT chunk"},
    {"Fehler beim Format schreiben", "Error writing FMT chunk"},
    {"Fehler bei FMT Ascend", "Error ascending FMT chunk"},
    {"Fehler bei DATA chunk", "Cannot create DATA chunk"},
    {"Fehler bei DATA Ascend", "Error ascending DATA chunk"},
    {"Fehler bei RIFF Ascend", "Error ascending WAVE chunk"},
    {"Fehler beim Dateiposition setzen", "Failed to seek to pos"},
    {"Fehler beim lesen der Daten", "Faild to read data"},
    {"Fehler beim schreiben der Daten", "Faild to write data"},
};

namespace {

constexpr size_t MaxMessageLength = 255;
// The trailing chunks are copied in pieces of this size: their claimed length never sizes a buffer.
constexpr uint64_t TailPieceBytes = 64 * 1024;

constexpr uint32_t IdRiff = MakeFourCC('R', 'I', 'F', 'F');
constexpr uint32_t IdWave = MakeFourCC('W', 'A', 'V', 'E');
constexpr uint32_t IdFmt = MakeFourCC('f', 'm', 't', ' ');
constexpr uint32_t IdData = MakeFourCC('d', 'a', 't', 'a');

}  // namespace

std::string Message(const TTextPair& pair) {
  std::string text = Text(pair);
  if (text.size() > MaxMessageLength) text.resize(MaxMessageLength);
  return text;
}

std::string Message(TWavMsg key) {
  return Message(WavMessages[key]);
}

void ParseBase(const uint8_t* p, TWaveFormat& f) {
  f.wFormatTag = Le16(p);
  f.nChannels = Le16(p + 2);
  f.nSamplesPerSec = Le32(p + 4);
  f.nAvgBytesPerSec = Le32(p + 8);
  f.nBlockAlign = Le16(p + 12);
  f.wBitsPerSample = Le16(p + 14);
  f.cbSize = Le16(p + 16);
}

void ParseExtension(const uint8_t* p, TWaveFormat& f) {
  f.wValidBitsPerSample = Le16(p);
  f.dwChannelMask = Le32(p + 2);
  std::memcpy(f.SubFormat, p + 6, 16);
}

namespace {

void Serialise(const TWaveFormat& f, uint8_t* p) {
  Put16(p, f.wFormatTag);
  Put16(p + 2, f.nChannels);
  Put32(p + 4, f.nSamplesPerSec);
  Put32(p + 8, f.nAvgBytesPerSec);
  Put16(p + 12, f.nBlockAlign);
  Put16(p + 14, f.wBitsPerSample);
  Put16(p + 16, f.cbSize);
  Put16(p + 18, f.wValidBitsPerSample);
  Put32(p + 20, f.dwChannelMask);
  std::memcpy(p + 24, f.SubFormat, 16);
}

}  // namespace

void ClearFields(TWavRecord& rec) {
  rec.ErrorMsg.clear();
  rec.ErrorNumber = 0;
  rec.Format = TWaveFormat{};
  rec.BytesPerSample = 0;
  rec.PcmSubFormat = 0;
  rec.DataOffset = 0;
  rec.NumFrames = 0;
  rec.Writing = 0;
  rec.DataChunk = TChunkInfo{};
  rec.RiffChunk = TChunkInfo{};
  rec.TailStart = 0;
  rec.TailEnd = 0;
  rec.DataSize = 0;
  rec.DataCut = false;
  rec.HeadStart = 0;
  rec.FmtStart = 0;
  rec.FmtEnd = 0;
  rec.Container = TContainer::Wav;
  rec.FormType = 0;
  rec.SwapBytes = false;
  rec.SignedBytes = false;
  rec.FramesField = 0;
  rec.Flac.reset();
}

bool Fail(TWavRecord& rec, const TTextPair& text, int errorNumber) {
  // The codec goes first: it may still write to the file as it ends.
  rec.Flac.reset();
  rec.Handle.reset();
  rec.ErrorMsg = Message(text);
  rec.ErrorNumber = errorNumber;
  return false;
}

bool Fail(TWavRecord& rec, TWavMsg key, int errorNumber) {
  return Fail(rec, WavMessages[key], errorNumber);
}

bool FormatAccepted(TWavRecord& rec, unsigned bytesPerSample) {
  const TWaveFormat& f = rec.Format;
  if (f.nSamplesPerSec == 0) return false;
  switch (f.wFormatTag) {
    case WaveFormatPcm:
      return bytesPerSample >= 1 && bytesPerSample <= 4;
    case WaveFormatIeeeFloat:
      return bytesPerSample == 4;
    case WaveFormatExtensible:
      if (std::memcmp(f.SubFormat, SubFormatPcm, 16) == 0 && bytesPerSample >= 1 && bytesPerSample <= 4) {
        rec.PcmSubFormat = 1;
        return true;
      }
      if (std::memcmp(f.SubFormat, SubFormatIeeeFloat, 16) == 0 && bytesPerSample == 4) {
        rec.PcmSubFormat = 0;
        return true;
      }
      return false;
    default:
      return false;
  }
}

TWaveFormat PlainFormat(uint16_t channels, uint32_t sampleRate, unsigned bytesPerSample, bool isFloat) {
  TWaveFormat f;
  f.wFormatTag = isFloat ? WaveFormatIeeeFloat : WaveFormatPcm;
  f.nChannels = channels;
  f.nSamplesPerSec = sampleRate;
  f.nBlockAlign = static_cast<uint16_t>(channels * bytesPerSample);
  f.nAvgBytesPerSec = sampleRate * f.nBlockAlign;
  f.wBitsPerSample = static_cast<uint16_t>(bytesPerSample * 8);
  return f;
}

bool CopyBytes(TChunkFile& in, TChunkFile& out, uint64_t from, uint64_t to) {
  if (to <= from) return true;
  uint8_t buffer[16 * 1024];
  const uint64_t outStart = out.Position();
  bool ok = in.Seek(from);
  for (uint64_t at = from; ok && at < to;) {
    const uint64_t piece = std::min<uint64_t>(to - at, sizeof buffer);
    ok = in.Read(buffer, piece) == static_cast<int64_t>(piece) &&
         out.Write(buffer, piece) == static_cast<int64_t>(piece);
    at += piece;
  }
  if (!ok) {
    out.Truncate(outStart);
    out.Seek(outStart);
  }
  return ok;
}

namespace {

// Copies the input's trailing chunks to the output's current position (just after its finished data
// chunk). All or nothing: a piece that cannot be read or written takes back what was copied.
void CopyTail(TWavRecord& out, TWavRecord& in) {
  if (!in.IsOpen() || in.TailStart == 0 || in.TailEnd <= in.TailStart) return;
  uint64_t inSize = in.Handle->FileSize();
  if (in.TailStart >= inSize) return;
  // Only what the input really holds now, whatever its headers claimed.
  uint64_t length = std::min(in.TailEnd, inSize) - in.TailStart;
  uint64_t tailPos = out.Handle->Position();
  // The RIFF size must still fit its 32-bit field afterwards.
  if (tailPos < out.RiffChunk.DataOffset ||
      tailPos - out.RiffChunk.DataOffset + length + 1 > std::numeric_limits<uint32_t>::max())
    return;
  size_t bufferBytes = static_cast<size_t>(std::min(length, TailPieceBytes));
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bufferBytes]);
  if (!buffer) return;
  if (!in.Handle->Seek(in.TailStart)) return;
  uint64_t copied = 0;
  while (copied < length) {
    uint64_t piece = std::min<uint64_t>(length - copied, bufferBytes);
    if (in.Handle->Read(buffer.get(), piece) != static_cast<int64_t>(piece) ||
        out.Handle->Write(buffer.get(), piece) != static_cast<int64_t>(piece)) {
      out.Handle->Truncate(tailPos);
      out.Handle->Seek(tailPos);
      return;
    }
    copied += piece;
  }
}

// Copying the input's chunks that stand before its data into an output's header.
struct THeadCopy {
  TChunkFile* In = nullptr;
  TChunkFile* Out = nullptr;
  uint8_t* Buffer = nullptr;  // BufferBytes long
  uint64_t BufferBytes = 0;
  uint64_t Budget = 0;  // bytes the output's form can still take with its 32-bit size
};

// Copies the chunks in the input's byte range [from, to) to the output's current position. OpenWav
// walked this range, but the file may have changed since: every header is read again, and a chunk
// that is no longer all there, or that cannot be copied whole, ends the copy of the range (what of it
// was written is taken back). The writer makes its own "fmt " and "data"; an input's other chunk of
// either id would stand beside them as a second one, so such chunks are left out.
void CopyHeadChunks(THeadCopy& c, uint64_t from, uint64_t to) {
  const uint64_t limit = std::min(to, c.In->FileSize());
  uint64_t at = from;
  // Each step moves on by at least a header, and never beyond `limit`.
  while (at < limit && limit - at >= 8) {
    uint8_t header[8];
    if (!c.In->Seek(at) || c.In->Read(header, 8) != 8) return;
    const uint32_t id = Le32(header);
    const uint32_t size = Le32(header + 4);
    const uint64_t end = at + 8 + size;
    if (end > limit) return;
    const uint64_t pad = size & 1u;
    at = end + pad;
    if (id == IdFmt || id == IdData) continue;
    const uint64_t total = 8 + size + pad;
    if (total > c.Budget) return;
    const uint64_t outStart = c.Out->Position();
    bool ok = c.Out->Write(header, 8) == 8;
    for (uint64_t copied = 0; ok && copied < size;) {
      const uint64_t piece = std::min<uint64_t>(size - copied, c.BufferBytes);
      ok = c.In->Read(c.Buffer, piece) == static_cast<int64_t>(piece) &&
           c.Out->Write(c.Buffer, piece) == static_cast<int64_t>(piece);
      copied += piece;
    }
    if (ok && pad != 0) {
      const uint8_t zero = 0;
      ok = c.Out->Write(&zero, 1) == 1;
    }
    if (!ok) {
      c.Out->Truncate(outStart);
      c.Out->Seek(outStart);
      return;
    }
    c.Budget -= total;
  }
}

// Finishes and closes a record; with `in`, the input's trailing chunks go between data and RIFF end.
bool Finish(TWavRecord& out, TWavRecord* in) {
  if (!out.IsOpen()) return true;
  if (out.Writing == 1 && out.Container == TContainer::Flac) {
    std::string message;
    const bool finished = out.Flac && out.Flac->Finish(message);
    out.Flac.reset();
    if (!finished) {
      out.Handle.reset();
      out.ErrorMsg = message;
      return false;
    }
  } else if (out.Writing == 1 && out.Container != TContainer::Wav) {
    if (!FinishSized(out, in)) return false;
  } else if (out.Writing == 1) {
    // An ascend also fails without a system call (a size beyond 32 bits): errno then stays 0.
    errno = 0;
    if (!out.Handle->Ascend(out.DataChunk)) return Fail(out, MsgAscendData, errno);
    if (in != nullptr) CopyTail(out, *in);
    errno = 0;
    if (!out.Handle->Ascend(out.RiffChunk)) return Fail(out, MsgAscendWave, errno);
  }
  out.Flac.reset();
  out.Handle.reset();
  return true;
}

// The chunks stored after the data are only noted, for the writer to copy. One that claims more
// bytes than the form (or the file) still holds ends the walk: it cannot be copied whole.
void NoteTailChunks(TChunkFile& file, const TChunkInfo& riff, uint64_t fileSize, TWavRecord& rec) {
  const uint64_t formEnd = std::min<uint64_t>(riff.DataOffset + riff.CkSize, fileSize);
  TChunkInfo chunk;
  while (file.Descend(chunk, &riff, TDescend::Any)) {
    const uint64_t end = chunk.DataOffset + chunk.CkSize;
    if (end > formEnd) break;
    if (rec.TailStart == 0) rec.TailStart = chunk.DataOffset - 8;
    rec.TailEnd = end;
    if (!file.Ascend(chunk)) break;
  }
}

// The output's own "fmt " chunk. False, with the message of the step that failed, when a write fails.
bool WriteFmtChunk(TChunkFile& file, const TWaveFormat& format, uint32_t formatSize, TWavMsg& failed) {
  TChunkInfo fmt;
  fmt.CkId = IdFmt;
  fmt.CkSize = formatSize;
  uint8_t block[40];
  Serialise(format, block);
  failed = !file.CreateChunk(fmt)                                              ? MsgCreateFmt
           : file.Write(block, formatSize) != static_cast<int64_t>(formatSize) ? MsgWriteFmt
           : !file.Ascend(fmt)                                                 ? MsgAscendFmt
                                                                               : MsgCount;
  return failed == MsgCount;
}

// Creates an output; with `in`, the input's chunks before its data go into the header around the
// output's own "fmt ".
bool Create(const std::string& fileName, TWavRecord& rec, TWavRecord* in) {
  CloseWav(rec);
  TWaveFormat format = rec.Format;
  ClearFields(rec);
  rec.Format = format;
  rec.Writing = 1;

  rec.Handle = TChunkFile::OpenForWriting(fileName);
  if (!rec.Handle) return Fail(rec, MsgCreateError, errno);
  // An output keeps its input's container; only a WAV input gets the header built below.
  if (in != nullptr && in->IsOpen() && in->Container != TContainer::Wav)
    return CreateLikeInput(fileName, rec, *in);
  TChunkFile& file = *rec.Handle;
  // From here on the file exists: a header that cannot be written whole leaves no file behind,
  // since a stub of a few bytes would look like an output. Only writes fail here, and they set errno.
  auto failCreated = [&](TWavMsg message) {
    Fail(rec, message, errno);
    ::unlink(fileName.c_str());
    return false;
  };

  rec.RiffChunk = TChunkInfo{};
  rec.RiffChunk.CkId = IdRiff;
  rec.RiffChunk.FccType = IdWave;
  if (!file.CreateChunk(rec.RiffChunk)) return failCreated(MsgCreateWave);

  uint32_t formatSize = 18;
  if (rec.Format.wFormatTag == WaveFormatExtensible)
    formatSize = 40;
  else
    rec.Format.cbSize = 0;

  // The input's chunks before its data come in two runs: those before its "fmt " and those between
  // its "fmt " and its "data". An input without any gets exactly the plain header.
  uint64_t beforeFmt = 0, afterFmt = 0;
  if (in != nullptr && in->IsOpen() && in->FmtStart != 0) {
    beforeFmt = in->FmtStart > in->HeadStart ? in->FmtStart - in->HeadStart : 0;
    afterFmt = in->DataOffset > in->FmtEnd + 8 ? in->DataOffset - 8 - in->FmtEnd : 0;
  }
  std::unique_ptr<uint8_t[]> buffer;
  THeadCopy head;
  if (beforeFmt + afterFmt != 0) {
    head.In = in->Handle.get();
    head.Out = &file;
    head.BufferBytes = std::min(std::max(beforeFmt, afterFmt), TailPieceBytes);
    buffer.reset(new (std::nothrow) uint8_t[head.BufferBytes]);
    head.Buffer = buffer.get();
    // Room is kept for the input's samples and their pad byte: copied chunks must never be what
    // makes the finished form too large for its 32-bit size.
    const uint64_t fixed = 4 + 8 + formatSize + 8 + uint64_t{in->DataSize} + 1;
    const uint64_t maxForm = std::numeric_limits<uint32_t>::max();
    head.Budget = fixed < maxForm ? maxForm - fixed : 0;
  }
  const bool copyHead = head.Buffer != nullptr;
  if (copyHead && beforeFmt != 0) CopyHeadChunks(head, in->HeadStart, in->FmtStart);

  if (TWavMsg failed; !WriteFmtChunk(file, rec.Format, formatSize, failed)) return failCreated(failed);
  if (copyHead && afterFmt != 0) CopyHeadChunks(head, in->FmtEnd, in->DataOffset - 8);

  rec.DataChunk = TChunkInfo{};
  rec.DataChunk.CkId = IdData;
  if (!file.CreateChunk(rec.DataChunk)) return failCreated(MsgCreateData);
  rec.DataOffset = rec.DataChunk.DataOffset;

  // The output describes itself as an opened input would, so that the codec can work on it directly.
  if (rec.Format.nChannels != 0) {
    rec.BytesPerSample = static_cast<uint8_t>(rec.Format.nBlockAlign / rec.Format.nChannels);
    rec.PcmSubFormat = rec.Format.wFormatTag == WaveFormatExtensible &&
                               std::memcmp(rec.Format.SubFormat, SubFormatPcm, 16) == 0
                           ? 1
                           : 0;
  }
  return true;
}

}  // namespace
}  // namespace detail

TWavRecord::~TWavRecord() {
  CloseWav(*this);
}

TWavRecord::TWavRecord(TWavRecord&& other) noexcept
    : Handle(std::move(other.Handle)),
      ErrorMsg(std::move(other.ErrorMsg)),
      ErrorNumber(other.ErrorNumber),
      Format(other.Format),
      BytesPerSample(other.BytesPerSample),
      PcmSubFormat(other.PcmSubFormat),
      DataOffset(other.DataOffset),
      NumFrames(other.NumFrames),
      Writing(other.Writing),
      DataChunk(other.DataChunk),
      RiffChunk(other.RiffChunk),
      TailStart(other.TailStart),
      TailEnd(other.TailEnd),
      DataSize(other.DataSize),
      DataCut(other.DataCut),
      HeadStart(other.HeadStart),
      FmtStart(other.FmtStart),
      FmtEnd(other.FmtEnd),
      Container(other.Container),
      FormType(other.FormType),
      SwapBytes(other.SwapBytes),
      SignedBytes(other.SignedBytes),
      FramesField(other.FramesField),
      Flac(std::move(other.Flac)) {}

TWavRecord& TWavRecord::operator=(TWavRecord&& other) noexcept {
  if (this != &other) {
    CloseWav(*this);
    Handle = std::move(other.Handle);
    ErrorMsg = std::move(other.ErrorMsg);
    ErrorNumber = other.ErrorNumber;
    Format = other.Format;
    BytesPerSample = other.BytesPerSample;
    PcmSubFormat = other.PcmSubFormat;
    DataOffset = other.DataOffset;
    NumFrames = other.NumFrames;
    Writing = other.Writing;
    DataChunk = other.DataChunk;
    RiffChunk = other.RiffChunk;
    TailStart = other.TailStart;
    TailEnd = other.TailEnd;
    DataSize = other.DataSize;
    DataCut = other.DataCut;
    HeadStart = other.HeadStart;
    FmtStart = other.FmtStart;
    FmtEnd = other.FmtEnd;
    Container = other.Container;
    FormType = other.FormType;
    SwapBytes = other.SwapBytes;
    SignedBytes = other.SignedBytes;
    FramesField = other.FramesField;
    Flac = std::move(other.Flac);
  }
  return *this;
}

namespace {

bool OpenForReading(const std::string& fileName, TWavRecord& rec, bool holds) {
  using namespace detail;
  CloseWav(rec);
  rec.Handle.reset();
  ClearFields(rec);

  rec.Handle = TChunkFile::OpenForReading(fileName, holds);
  if (!rec.Handle) return Fail(rec, MsgOpenError, errno);
  TChunkFile& file = *rec.Handle;

  // The first four bytes tell the container; anything else is searched for a RIFF form as ever.
  uint8_t magic[4] = {};
  if (file.Read(magic, 4) == 4) {
    const uint32_t id = Le32(magic);
    if (id == MakeFourCC('R', 'F', '6', '4') || id == MakeFourCC('B', 'W', '6', '4')) return OpenRf64(rec);
    if (id == MakeFourCC('F', 'O', 'R', 'M')) return OpenAiff(rec);
    if (id == MakeFourCC('f', 'L', 'a', 'C')) return OpenFlac(rec);
  }

  TChunkInfo riff;
  riff.FccType = IdWave;
  if (!file.Seek(0) || !file.Descend(riff, nullptr, TDescend::FindRiff)) return Fail(rec, MsgNoWavFile);

  rec.HeadStart = file.Position();
  TChunkInfo fmt;
  fmt.CkId = IdFmt;
  if (!file.Descend(fmt, &riff, TDescend::FindChunk)) return Fail(rec, MsgFormatNotFound);
  rec.FmtStart = fmt.DataOffset - 8;

  // 18 bytes whatever the chunk declares: a 16-byte chunk lends two bytes of what follows to cbSize,
  // which is then set to 0 below.
  uint8_t block[40];
  if (file.Read(block, 18) != 18) return Fail(rec, MsgCannotReadFormat);
  ParseBase(block, rec.Format);
  if (rec.Format.wFormatTag == WaveFormatExtensible) {
    if (rec.Format.cbSize != 22) return Fail(rec, MsgCannotReadFormat);
    if (file.Read(block + 18, 22) != 22) return Fail(rec, MsgCannotReadFormat);
    ParseExtension(block + 18, rec.Format);
  } else {
    rec.Format.cbSize = 0;
  }

  TChunkInfo data;
  data.CkId = IdData;
  if (!file.Ascend(fmt)) return Fail(rec, MsgCannotFindData);
  rec.FmtEnd = file.Position();
  if (!file.Descend(data, &riff, TDescend::FindChunk)) return Fail(rec, MsgCannotFindData);

  // Nothing may divide by a channel count of 0; it is a channel-count fault like any other.
  if (rec.Format.nChannels == 0) return Fail(rec, MsgUnsupportedChannels);
  // The quotient is checked at full width: cut to 8 bits, a 257-byte frame would pass as 8-bit.
  unsigned bytesPerSample = rec.Format.nBlockAlign / rec.Format.nChannels;
  rec.BytesPerSample = static_cast<uint8_t>(bytesPerSample);
  if (!FormatAccepted(rec, bytesPerSample)) return Fail(rec, MsgUnsupportedFormat);
  if (rec.Format.nChannels != 1 && rec.Format.nChannels != 2) return Fail(rec, MsgUnsupportedChannels);

  // A recording cut short (a full disk, an interrupted transfer) keeps its claimed size; the samples
  // that are really there are what counts.
  uint64_t fileSize = file.FileSize();
  uint64_t present = data.DataOffset < fileSize ? fileSize - data.DataOffset : 0;
  rec.DataSize = std::min<uint64_t>(data.CkSize, present);
  rec.DataCut = present < data.CkSize;
  // Less than one whole frame is no sample at all; its output would hold no data and never reopen.
  if (rec.DataSize < rec.Format.nBlockAlign) return Fail(rec, MsgNoData);

  rec.DataOffset = data.DataOffset;
  rec.NumFrames = static_cast<uint32_t>(rec.DataSize / rec.Format.nBlockAlign);

  if (file.Ascend(data)) NoteTailChunks(file, riff, fileSize, rec);
  return true;
}

}  // namespace

bool OpenWav(const std::string& fileName, TWavRecord& rec) {
  return OpenForReading(fileName, rec, true);
}

bool PeekWav(const std::string& fileName, TWavRecord& rec) {
  return OpenForReading(fileName, rec, false);
}

bool CreateWav(const std::string& fileName, TWavRecord& rec) {
  return detail::Create(fileName, rec, nullptr);
}

void RefuseCreate(TWavRecord& rec, int errorNumber) {
  rec.ErrorMsg = detail::Message(detail::MsgCreateError);
  rec.ErrorNumber = errorNumber;
}

bool OutputNameFree(const std::string& fileName, TWavRecord& rec) {
  using namespace detail;
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0) return true;
  auto refuse = [&rec](int errorNumber) {
    RefuseCreate(rec, errorNumber);
    return false;
  };
  if (S_ISDIR(st.st_mode)) return refuse(EISDIR);
  if (!S_ISREG(st.st_mode)) return refuse(0);
  if (TChunkFile::IsOpenInProcess(fileName)) return refuse(0);
  // A write-protected earlier output says "keep me"; replacing it by a rename would not ask.
  if (::access(fileName.c_str(), W_OK) != 0) return refuse(errno);
  return true;
}

bool CreateWavWithHead(const std::string& fileName, TWavRecord& rec, TWavRecord& in) {
  return detail::Create(fileName, rec, &in);
}

bool CloseWav(TWavRecord& rec) {
  return detail::Finish(rec, nullptr);
}

bool CloseWavWithTail(TWavRecord& out, TWavRecord& in) {
  return detail::Finish(out, &in);
}

bool ReadWavData(const TWavRecord& rec, void* dest, uint64_t position, uint32_t count, std::string& msg,
                 int* errorNumber) {
  using namespace detail;
  msg.clear();
  if (errorNumber) *errorNumber = 0;
  if (rec.Flac) return rec.Flac->Read(dest, position, count, msg);
  if (!rec.Handle || position > std::numeric_limits<uint64_t>::max() - rec.DataOffset ||
      !rec.Handle->Seek(rec.DataOffset + position)) {
    msg = Message(MsgSeek);
    return false;
  }
  const int64_t got = rec.Handle->Read(dest, count);
  if (got != static_cast<int64_t>(count)) {
    // A short read is the end of the file, not a failing call.
    if (errorNumber && got < 0) *errorNumber = errno;
    msg = Message(MsgRead);
    return false;
  }
  if (rec.Container == TContainer::Aiff) TurnAiffSamples(rec, static_cast<uint8_t*>(dest), count);
  return true;
}

bool WriteWavData(const TWavRecord& rec, const void* src, uint64_t position, uint32_t count,
                  uint32_t srcOffset, std::string& msg, int* errorNumber) {
  using namespace detail;
  msg.clear();
  if (errorNumber) *errorNumber = 0;
  const uint8_t* from = static_cast<const uint8_t*>(src) + srcOffset;
  if (rec.Flac) return rec.Flac->Write(from, position, count, msg);
  if (rec.Container == TContainer::Aiff) return WriteAiffData(rec, from, position, count, msg, errorNumber);
  if (!rec.Handle || position > std::numeric_limits<uint64_t>::max() - rec.DataOffset ||
      !rec.Handle->Seek(rec.DataOffset + position)) {
    msg = Message(MsgSeek);
    return false;
  }
  if (rec.Handle->Write(static_cast<const uint8_t*>(src) + srcOffset, count) != static_cast<int64_t>(count)) {
    if (errorNumber) *errorNumber = errno;
    msg = Message(MsgWrite);
    return false;
  }
  return true;
}

std::string WavFormatText(const TWavRecord& rec) {
  const TWaveFormat& f = rec.Format;
  const char* kind = "";
  if (f.wFormatTag == WaveFormatPcm || (f.wFormatTag == WaveFormatExtensible && rec.PcmSubFormat == 1))
    kind = "PCM";
  else if (f.wFormatTag == WaveFormatIeeeFloat ||
           (f.wFormatTag == WaveFormatExtensible && rec.PcmSubFormat == 0))
    kind = "IEEE";
  if (rec.Container == TContainer::Flac) kind = "FLAC";
  return std::to_string(f.nSamplesPerSec) + "/" + std::to_string(rec.BytesPerSample) + "/" + kind;
}

const char* ContainerName(const TWavRecord& rec) {
  switch (rec.Container) {
    case TContainer::Rf64:
      return "rf64";
    case TContainer::Flac:
      return "flac";
    case TContainer::Aiff:
      return "aiff";
    default:
      return "wav";
  }
}

bool IsAudioFileName(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext == "wav" || ext == "flac" || ext == "aif" || ext == "aiff";
}

std::string WavDurationText(const TWavRecord& rec) {
  if (rec.Format.nSamplesPerSec == 0) return SecondsToHMS(0);
  // Halves go to even under the default rounding mode (2.5 s shows as 2 s).
  double seconds = std::nearbyint(static_cast<double>(rec.NumFrames) / rec.Format.nSamplesPerSec);
  seconds = std::min(seconds, static_cast<double>(std::numeric_limits<int32_t>::max()));
  return SecondsToHMS(static_cast<int32_t>(seconds));
}

std::string SecondsToHMS(int32_t seconds) {
  int32_t hours = seconds / 3600;
  int32_t minutes = (seconds % 3600) / 60;
  int32_t secs = (seconds % 3600) - minutes * 60;
  auto part = [](int32_t v) {
    std::string text = std::to_string(v);
    return text.size() < 2 ? "0" + text : text;
  };
  return part(hours) + ":" + part(minutes) + ":" + part(secs);
}

}  // namespace klarwell
