#include "tests/support/ContainerBuilder.h"

#include <algorithm>

namespace klarwell::test {

namespace {

void AppendBe16(TBytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void AppendBe32(TBytes& out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void AppendChunk(TBytes& out, const std::string& id, const TBytes& payload, bool bigEndian) {
  AppendId(out, id.c_str());
  if (bigEndian)
    AppendBe32(out, static_cast<uint32_t>(payload.size()));
  else
    Append32(out, static_cast<uint32_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  if (payload.size() % 2) out.push_back(0);
}

// A whole-number rate as an 80-bit extended float.
void AppendExtended(TBytes& out, uint32_t rate) {
  int shift = 0;
  uint64_t mantissa = rate;
  while (!(mantissa & (uint64_t{1} << 63))) mantissa <<= 1, ++shift;
  AppendBe16(out, static_cast<uint16_t>(16383 + 63 - shift));
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<uint8_t>(mantissa >> (8 * i)));
}

}  // namespace

TBytes MakeAiff(uint16_t channels, int bytesPerSample, uint32_t sampleRate, const TBytes& leFrames,
                const std::string& compression, const TChunkList& before, const TChunkList& after) {
  TBytes comm;
  AppendBe16(comm, channels);
  AppendBe32(comm, static_cast<uint32_t>(leFrames.size() / (channels * bytesPerSample)));
  AppendBe16(comm, static_cast<uint16_t>(bytesPerSample * 8));
  AppendExtended(comm, sampleRate);
  if (!compression.empty()) {
    AppendId(comm, compression.c_str());
    comm.push_back(0);  // an empty name, padded to even length
    comm.push_back(0);
  }
  TBytes ssnd(8, 0);
  for (size_t i = 0; i < leFrames.size(); i += bytesPerSample) {
    if (bytesPerSample == 1)
      ssnd.push_back(leFrames[i] ^ 0x80);
    else if (compression == "sowt")
      ssnd.insert(ssnd.end(), leFrames.begin() + i, leFrames.begin() + i + bytesPerSample);
    else
      for (int b = bytesPerSample - 1; b >= 0; --b) ssnd.push_back(leFrames[i + b]);
  }
  TBytes body;
  AppendId(body, compression.empty() ? "AIFF" : "AIFC");
  AppendChunk(body, "COMM", comm, true);
  for (const auto& [id, payload] : before) AppendChunk(body, id, payload, true);
  AppendChunk(body, "SSND", ssnd, true);
  for (const auto& [id, payload] : after) AppendChunk(body, id, payload, true);
  TBytes file;
  AppendId(file, "FORM");
  AppendBe32(file, static_cast<uint32_t>(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

TBytes MakeRf64(const TFmtFields& fmt, const TBytes& leFrames, const TChunkList& before,
                const TChunkList& after, const std::string& magic) {
  TBytes body;
  AppendId(body, "WAVE");
  AppendId(body, "ds64");
  Append32(body, 28);
  const size_t ds64At = body.size();
  body.resize(body.size() + 28, 0);
  AppendChunk(body, "fmt ", FmtPayload(fmt, fmt.FormatTag == 0xFFFE ? 40 : 18), false);
  for (const auto& [id, payload] : before) AppendChunk(body, id, payload, false);
  AppendId(body, "data");
  Append32(body, 0xFFFFFFFFu);
  body.insert(body.end(), leFrames.begin(), leFrames.end());
  if (leFrames.size() % 2) body.push_back(0);
  for (const auto& [id, payload] : after) AppendChunk(body, id, payload, false);
  auto put64 = [&](size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) body[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put64(ds64At, body.size());
  put64(ds64At + 8, leFrames.size());
  put64(ds64At + 16, leFrames.size() / fmt.BlockAlign);
  TBytes file;
  AppendId(file, magic.c_str());
  Append32(file, 0xFFFFFFFFu);
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

}  // namespace klarwell::test
