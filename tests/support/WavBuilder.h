#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace klarwell::test {

using TBytes = std::vector<uint8_t>;

// Little-endian appenders.
void Append16(TBytes& out, uint16_t v);
void Append32(TBytes& out, uint32_t v);
void AppendId(TBytes& out, const char* fourCC);

// The fields of a "fmt " chunk as they go into the file; nothing is checked or derived, so that
// malformed headers are as easy to build as good ones.
struct TFmtFields {
  uint16_t FormatTag = 1;
  uint16_t Channels = 2;
  uint32_t SampleRate = 44100;
  uint32_t AvgBytesPerSec = 44100 * 4;
  uint16_t BlockAlign = 4;
  uint16_t BitsPerSample = 16;
  uint16_t CbSize = 0;
  uint16_t ValidBits = 16;
  uint32_t ChannelMask = 3;
  uint8_t SubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                           0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

  // A consistent format: tag 1 (or 3 when isFloat), or the extensible tag with the PCM or float
  // sub-format and cbSize 22.
  static TFmtFields Pcm(uint16_t channels, uint16_t bytesPerSample, uint32_t sampleRate = 44100);
  static TFmtFields Float(uint16_t channels, uint32_t sampleRate = 44100);
  static TFmtFields Extensible(uint16_t channels, uint16_t bytesPerSample, bool isFloat,
                               uint32_t sampleRate = 44100);
};

// The first `size` bytes of the 40-byte format block (zero-filled beyond 40).
TBytes FmtPayload(const TFmtFields& fields, size_t size);

// Builds RIFF/WAVE bytes chunk by chunk. The RIFF size is computed from what was added unless it is
// overridden; each chunk may claim a size other than its payload's, and may go without its pad byte.
class TWavBuilder {
 public:
  // A chunk of any id. `claimedSize` defaults to the payload's size; `pad` adds a zero byte after an
  // odd-sized payload.
  TWavBuilder& Chunk(const std::string& id, const TBytes& payload, std::optional<uint32_t> claimedSize = {},
                     bool pad = true);
  // A "fmt " chunk of `size` bytes (18 by default, 40 for the extensible tag).
  TWavBuilder& Fmt(const TFmtFields& fields, std::optional<size_t> size = {});
  TWavBuilder& Data(const TBytes& samples, std::optional<uint32_t> claimedSize = {}, bool pad = true);
  // Raw bytes inside the form, as they are.
  TWavBuilder& Raw(const TBytes& bytes);
  TWavBuilder& RiffSize(uint32_t size);
  TWavBuilder& FormType(const std::string& fourCC);
  TWavBuilder& RiffId(const std::string& fourCC);

  TBytes Bytes() const;
  // Writes Bytes() to the file; false on failure.
  bool WriteFile(const std::string& path) const;

 private:
  TBytes Body_;
  std::optional<uint32_t> RiffSize_;
  std::string FormType_ = "WAVE";
  std::string RiffId_ = "RIFF";
};

// A complete, ordinary file: fmt, then data with the given bytes.
TBytes SimpleWav(const TFmtFields& fields, const TBytes& samples);

// File helpers for the tests.
bool WriteBytes(const std::string& path, const TBytes& bytes);
TBytes ReadBytes(const std::string& path);
// 64-bit FNV-1a over the file's bytes (0 when it cannot be read).
uint64_t FileChecksum(const std::string& path);

}  // namespace klarwell::test
