// Reading AIFF and AIFF-C files, and their sample bytes turned into a WAV data chunk's order and back.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

#include "audio/FileDetail.h"

namespace klarwell::detail {

namespace {

constexpr uint32_t IdForm = MakeBeFourCC('F', 'O', 'R', 'M');
constexpr uint32_t IdAiff = MakeBeFourCC('A', 'I', 'F', 'F');
constexpr uint32_t IdAifc = MakeBeFourCC('A', 'I', 'F', 'C');
constexpr uint32_t IdComm = MakeBeFourCC('C', 'O', 'M', 'M');
constexpr uint32_t IdSsnd = MakeBeFourCC('S', 'S', 'N', 'D');

// The sample rate, an 80-bit extended float; 0 for anything that is not a positive rate.
uint32_t ExtendedToRate(const uint8_t* p) {
  const int exponent = ((p[0] & 0x7F) << 8 | p[1]) - 16383 - 63;
  uint64_t mantissa = 0;
  for (int i = 0; i < 8; ++i) mantissa = mantissa << 8 | p[2 + i];
  if ((p[0] & 0x80) != 0 || mantissa == 0 || exponent > 0 || exponent < -63) return 0;
  const double rate = std::nearbyint(std::ldexp(static_cast<double>(mantissa), exponent));
  return rate >= 1 && rate <= std::numeric_limits<uint32_t>::max() ? static_cast<uint32_t>(rate) : 0;
}

// What COMM says about the samples, checked; false with the message key when refused.
bool ParseComm(TWavRecord& rec, const uint8_t* comm, uint32_t size, bool isAifc, uint32_t& frames,
               TWavMsg& why) {
  why = MsgCannotReadFormat;
  if (size < (isAifc ? 22u : 18u)) return false;
  const uint16_t channels = Be16(comm);
  frames = Be32(comm + 2);
  const unsigned bits = Be16(comm + 6);
  const uint32_t rate = ExtendedToRate(comm + 8);
  const uint32_t compression = isAifc ? Be32(comm + 18) : MakeBeFourCC('N', 'O', 'N', 'E');
  why = MsgUnsupportedFormat;
  if (rate == 0 || bits < 1 || bits > 32) return false;
  const unsigned bytesPerSample = (bits + 7) / 8;
  bool isFloat = false;
  if (compression == MakeBeFourCC('N', 'O', 'N', 'E') || compression == MakeBeFourCC('t', 'w', 'o', 's')) {
    rec.SwapBytes = bytesPerSample > 1;
  } else if (compression == MakeBeFourCC('s', 'o', 'w', 't')) {
    rec.SwapBytes = false;
  } else if (compression == MakeBeFourCC('f', 'l', '3', '2') ||
             compression == MakeBeFourCC('F', 'L', '3', '2')) {
    if (bits != 32) return false;
    rec.SwapBytes = isFloat = true;
  } else {
    return false;
  }
  why = MsgUnsupportedChannels;
  if (channels != 1 && channels != 2) return false;
  rec.SignedBytes = bytesPerSample == 1;
  rec.Format = PlainFormat(channels, rate, bytesPerSample, isFloat);
  rec.Format.wBitsPerSample = static_cast<uint16_t>(bits);
  rec.BytesPerSample = static_cast<uint8_t>(bytesPerSample);
  return true;
}

}  // namespace

void TurnAiffSamples(const TWavRecord& rec, uint8_t* p, size_t bytes) {
  const unsigned width = rec.BytesPerSample;
  if (width == 1 && rec.SignedBytes) {
    for (size_t i = 0; i < bytes; ++i) p[i] ^= 0x80;
  } else if (rec.SwapBytes && width > 1) {
    for (size_t i = 0; i + width <= bytes; i += width) std::reverse(p + i, p + i + width);
  }
}

bool OpenAiff(TWavRecord& rec) {
  TChunkFile& file = *rec.Handle;
  uint8_t header[12];
  if (!file.Seek(0) || file.Read(header, 12) != 12 || Be32(header) != IdForm ||
      (Be32(header + 8) != IdAiff && Be32(header + 8) != IdAifc))
    return Fail(rec, MsgNoWavFile);
  const bool isAifc = Be32(header + 8) == IdAifc;
  rec.Container = TContainer::Aiff;
  rec.FormType = Be32(header + 8);
  const uint64_t fileSize = file.FileSize();
  const uint64_t formEnd = std::min<uint64_t>(8 + uint64_t{Be32(header + 4)}, fileSize);

  bool haveComm = false, haveSsnd = false;
  uint32_t commFrames = 0;
  uint64_t ssndEnd = 0;
  // Each step moves on by at least a header; a chunk that claims more than the form holds ends the walk.
  for (uint64_t at = 12; at + 8 <= formEnd;) {
    uint8_t chunk[8];
    if (!file.Seek(at) || file.Read(chunk, 8) != 8) break;
    const uint32_t id = Be32(chunk), size = Be32(chunk + 4);
    const uint64_t end = at + 8 + size;
    // Chunks after the samples, COMM among them when it stands there, go behind the output's.
    if (haveSsnd && end <= formEnd) {
      if (rec.TailStart == 0) rec.TailStart = at;
      rec.TailEnd = end;
    }
    if (id == IdComm && !haveComm) {
      uint8_t comm[64] = {};
      const uint32_t want = std::min<uint32_t>(size, sizeof comm);
      TWavMsg why = MsgCannotReadFormat;
      if (end > formEnd || file.Read(comm, want) != want ||
          !ParseComm(rec, comm, size, isAifc, commFrames, why))
        return Fail(rec, end > formEnd ? MsgCannotReadFormat : why);
      haveComm = true;
      rec.FramesField = at + 8 + 2;
    } else if (id == IdSsnd && !haveSsnd) {
      uint8_t ssnd[8];
      if (file.Read(ssnd, 8) != 8) return Fail(rec, MsgCannotFindData);
      haveSsnd = true;
      rec.DataChunk.DataOffset = at + 8;
      rec.DataOffset = at + 16 + uint64_t{Be32(ssnd)};
      // A cut recording keeps its claimed size: what is there counts.
      ssndEnd = std::min<uint64_t>(end, fileSize);
      rec.DataCut = end > fileSize;
    } else if (haveSsnd && end > formEnd) {
      break;
    }
    at = end + (size & 1u);
  }
  if (!haveComm) return Fail(rec, MsgFormatNotFound);
  if (!haveSsnd) return Fail(rec, MsgCannotFindData);
  const uint64_t present = ssndEnd > rec.DataOffset ? (ssndEnd - rec.DataOffset) / rec.Format.nBlockAlign : 0;
  rec.DataCut = rec.DataCut || present < commFrames;
  const uint64_t frames = std::min<uint64_t>(present, commFrames);
  if (frames > MaxFrames) return Fail(rec, MsgUnsupportedFormat);
  rec.NumFrames = static_cast<uint32_t>(frames);
  rec.DataSize = uint64_t{rec.NumFrames} * rec.Format.nBlockAlign;
  if (rec.DataSize == 0) return Fail(rec, MsgNoData);
  return true;
}

bool WriteAiffData(const TWavRecord& rec, const void* src, uint64_t position, uint32_t count,
                   std::string& msg, int* errorNumber) {
  if (!rec.Handle || !rec.Handle->Seek(rec.DataOffset + position)) {
    msg = Message(MsgSeek);
    return false;
  }
  // The caller's frames stay as they are: they are turned piece by piece on the way out.
  uint8_t piece[12 * 1024];  // a whole number of samples of every width
  const auto* from = static_cast<const uint8_t*>(src);
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min<uint32_t>(count - done, sizeof piece);
    std::copy(from + done, from + done + n, piece);
    TurnAiffSamples(rec, piece, n);
    if (rec.Handle->Write(piece, n) != static_cast<int64_t>(n)) {
      if (errorNumber) *errorNumber = errno;
      msg = Message(MsgWrite);
      return false;
    }
    done += n;
  }
  return true;
}

}  // namespace klarwell::detail
