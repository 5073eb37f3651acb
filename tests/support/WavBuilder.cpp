#include "tests/support/WavBuilder.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace klarwell::test {

void Append16(TBytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Append32(TBytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void AppendId(TBytes& out, const char* fourCC) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(fourCC[i]));
}

TFmtFields TFmtFields::Pcm(uint16_t channels, uint16_t bytesPerSample, uint32_t sampleRate) {
  TFmtFields f;
  f.FormatTag = 1;
  f.Channels = channels;
  f.SampleRate = sampleRate;
  f.BlockAlign = static_cast<uint16_t>(channels * bytesPerSample);
  f.AvgBytesPerSec = sampleRate * f.BlockAlign;
  f.BitsPerSample = static_cast<uint16_t>(8 * bytesPerSample);
  f.ValidBits = f.BitsPerSample;
  return f;
}

TFmtFields TFmtFields::Float(uint16_t channels, uint32_t sampleRate) {
  TFmtFields f = Pcm(channels, 4, sampleRate);
  f.FormatTag = 3;
  return f;
}

TFmtFields TFmtFields::Extensible(uint16_t channels, uint16_t bytesPerSample, bool isFloat,
                                  uint32_t sampleRate) {
  TFmtFields f = Pcm(channels, bytesPerSample, sampleRate);
  f.FormatTag = 0xFFFE;
  f.CbSize = 22;
  f.ChannelMask = channels == 1 ? 4 : 3;
  f.SubFormat[0] = isFloat ? 3 : 1;
  return f;
}

TBytes FmtPayload(const TFmtFields& f, size_t size) {
  TBytes p;
  Append16(p, f.FormatTag);
  Append16(p, f.Channels);
  Append32(p, f.SampleRate);
  Append32(p, f.AvgBytesPerSec);
  Append16(p, f.BlockAlign);
  Append16(p, f.BitsPerSample);
  Append16(p, f.CbSize);
  Append16(p, f.ValidBits);
  Append32(p, f.ChannelMask);
  p.insert(p.end(), f.SubFormat, f.SubFormat + 16);
  p.resize(size, 0);
  return p;
}

TWavBuilder& TWavBuilder::Chunk(const std::string& id, const TBytes& payload,
                                std::optional<uint32_t> claimedSize, bool pad) {
  AppendId(Body_, id.c_str());
  Append32(Body_, claimedSize.value_or(static_cast<uint32_t>(payload.size())));
  Body_.insert(Body_.end(), payload.begin(), payload.end());
  if (pad && (payload.size() & 1) != 0) Body_.push_back(0);
  return *this;
}

TWavBuilder& TWavBuilder::Fmt(const TFmtFields& fields, std::optional<size_t> size) {
  return Chunk("fmt ", FmtPayload(fields, size.value_or(fields.FormatTag == 0xFFFE ? 40 : 18)));
}

TWavBuilder& TWavBuilder::Data(const TBytes& samples, std::optional<uint32_t> claimedSize, bool pad) {
  return Chunk("data", samples, claimedSize, pad);
}

TWavBuilder& TWavBuilder::Raw(const TBytes& bytes) {
  Body_.insert(Body_.end(), bytes.begin(), bytes.end());
  return *this;
}

TWavBuilder& TWavBuilder::RiffSize(uint32_t size) {
  RiffSize_ = size;
  return *this;
}

TWavBuilder& TWavBuilder::FormType(const std::string& fourCC) {
  FormType_ = fourCC;
  return *this;
}

TWavBuilder& TWavBuilder::RiffId(const std::string& fourCC) {
  RiffId_ = fourCC;
  return *this;
}

TBytes TWavBuilder::Bytes() const {
  TBytes out;
  AppendId(out, RiffId_.c_str());
  Append32(out, RiffSize_.value_or(static_cast<uint32_t>(4 + Body_.size())));
  AppendId(out, FormType_.c_str());
  out.insert(out.end(), Body_.begin(), Body_.end());
  return out;
}

bool TWavBuilder::WriteFile(const std::string& path) const {
  return WriteBytes(path, Bytes());
}

TBytes SimpleWav(const TFmtFields& fields, const TBytes& samples) {
  return TWavBuilder().Fmt(fields).Data(samples).Bytes();
}

bool WriteBytes(const std::string& path, const TBytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

TBytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint64_t FileChecksum(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  uint64_t hash = 1469598103934665603ull;
  char buffer[65536];
  while (in) {
    in.read(buffer, sizeof buffer);
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      hash ^= static_cast<uint8_t>(buffer[i]);
      hash *= 1099511628211ull;
    }
  }
  return hash;
}

}  // namespace klarwell::test
