#include "audio/SampleCodec.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace klarwell {

namespace detail {
namespace {

// Every product and quotient of the codec is formed in double and only then stored as a float or
// rounded. Double is wide enough that every 8-, 16- and 24-bit value decodes to a float that encodes
// back to the same stored value, and it gives the same results on every platform (long double does
// not).

// Round to nearest, halves to even (std::round would take halves away from zero). Relies on the
// default rounding mode, which nothing in the program changes.
double RoundEven(double v) {
  return std::nearbyint(v);
}

bool IsFloatFormat(const TWavRecord& rec) {
  return rec.Format.wFormatTag == WaveFormatIeeeFloat ||
         (rec.Format.wFormatTag == WaveFormatExtensible && rec.PcmSubFormat == 0);
}

bool IsIntegerFormat(const TWavRecord& rec) {
  return rec.Format.wFormatTag == WaveFormatPcm ||
         (rec.Format.wFormatTag == WaveFormatExtensible && rec.PcmSubFormat == 1);
}

int16_t Get16(const uint8_t* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
}

void Put16(uint8_t* p, int32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t Get32(const uint8_t* p) {
  return static_cast<int32_t>(GetU32(p));
}
float GetFloat(const uint8_t* p) {
  return std::bit_cast<float>(GetU32(p));
}

// A rounded quotient limited to [lo, hi] before it becomes an integer. A repair whose prediction
// overshoots full scale (loud, clipped transfers) is stored as full scale rather than wrapping to a
// click of the opposite sign. NaN, which the engine never hands over, is stored as silence.
int32_t Saturate(double q, double lo, double hi) {
  if (std::isnan(q)) return 0;
  return static_cast<int32_t>(std::clamp(RoundEven(q), lo, hi));
}

// The stored value q (engine value / scale) for frame bytes at `p`, with the change flag.
void StoreSample(uint8_t* p, const TWavRecord& rec, double q, uint8_t* changed) {
  switch (rec.BytesPerSample) {
    case 1: {
      int32_t v = std::isnan(q) ? 128 : Saturate(q + 128.0, 0.0, 255.0);
      if (changed != nullptr && p[0] != v) *changed = 1;
      p[0] = static_cast<uint8_t>(v);
      break;
    }
    case 2: {
      int32_t v = Saturate(q, -32768.0, 32767.0);
      if (changed != nullptr && Get16(p) != v) *changed = 1;
      Put16(p, v);
      break;
    }
    case 3: {
      int32_t v = Saturate(q, -8388608.0, 8388607.0);
      if (changed != nullptr && Get24(p, 0) != v) *changed = 1;
      Put24(p, 0, v);
      break;
    }
    case 4:
      if (IsFloatFormat(rec)) {
        // Float files carry values beyond full scale; they are stored as they are.
        float v = static_cast<float>(q);
        if (changed != nullptr && GetFloat(p) != v) *changed = 1;
        PutU32(p, std::bit_cast<uint32_t>(v));
      } else {
        int32_t v = Saturate(q, -2147483648.0, 2147483647.0);
        if (changed != nullptr && Get32(p) != v) *changed = 1;
        PutU32(p, static_cast<uint32_t>(v));
      }
      break;
    default:
      break;
  }
}

void Encode(float* leftBuf, float* rightBuf, uint8_t* frames, double scale, const TWavRecord& rec,
            int32_t frameIndex, bool isLeft, float value, float* copy, uint8_t* changed) {
  bool stereo = rec.Format.nChannels == 2;
  bool first = !stereo || isLeft;
  if (first)
    leftBuf[frameIndex] = value;
  else
    rightBuf[frameIndex] = value;
  if (copy != nullptr) copy[frameIndex] = value;
  if (rec.BytesPerSample < 1 || rec.BytesPerSample > 4) return;
  double q = static_cast<double>(value) / scale;
  size_t offset = static_cast<size_t>(frameIndex) * rec.Format.nBlockAlign + (first ? 0 : rec.BytesPerSample);
  StoreSample(frames + offset, rec, q, changed);
}

}  // namespace
}  // namespace detail

float ClampUnit(float v) {
  // Exponent bits all ones: infinity or NaN.
  if ((std::bit_cast<uint32_t>(v) & 0x7F800000u) == 0x7F800000u) return 0.0f;
  if (v < -1.0f) return -1.0f;
  if (v > 1.0f) return 1.0f;
  return v;
}

double GetSampleScale(const TWavRecord& rec) {
  if (detail::IsIntegerFormat(rec)) {
    switch (rec.BytesPerSample) {
      case 1:
        return 32767.0 / 127.0;
      case 2:
        return 1.0;
      case 3:
        return 32767.0 / 8388607.0;
      case 4:
        return 32767.0 / 2147483647.0;
      default:
        return 0.0;
    }
  }
  if (detail::IsFloatFormat(rec) && rec.BytesPerSample == 4) return 32767.0;
  return 0.0;
}

void DecodeFrames(int32_t count, const uint8_t* frames, const TWavRecord& rec, double scale, float* leftBuf,
                  float* rightBuf) {
  using namespace detail;
  const int bytes = rec.BytesPerSample;
  if (bytes < 1 || bytes > 4) return;
  const bool stereo = rec.Format.nChannels == 2;
  const bool isFloat = bytes == 4 && IsFloatFormat(rec);
  const size_t blockAlign = rec.Format.nBlockAlign;
  auto sample = [&](const uint8_t* p) -> double {
    switch (bytes) {
      case 1:
        return static_cast<double>(static_cast<int>(p[0]) - 128);
      case 2:
        return Get16(p);
      case 3:
        return Get24(p, 0);
      default:
        return isFloat ? static_cast<double>(ClampUnit(GetFloat(p))) : static_cast<double>(Get32(p));
    }
  };
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* frame = frames + static_cast<size_t>(i) * blockAlign;
    leftBuf[i] = static_cast<float>(sample(frame) * scale);
    if (stereo) rightBuf[i] = static_cast<float>(sample(frame + bytes) * scale);
  }
}

void EncodeSample(float* leftBuf, float* rightBuf, uint8_t* frames, double scale, const TWavRecord& rec,
                  int32_t frameIndex, bool isLeft, float value, float* copy) {
  detail::Encode(leftBuf, rightBuf, frames, scale, rec, frameIndex, isLeft, value, copy, nullptr);
}

void EncodeSampleChanged(float* leftBuf, float* rightBuf, uint8_t* frames, double scale,
                         const TWavRecord& rec, int32_t frameIndex, bool isLeft, float value, float* copy,
                         uint8_t& changed) {
  detail::Encode(leftBuf, rightBuf, frames, scale, rec, frameIndex, isLeft, value, copy, &changed);
}

int32_t Get24(const uint8_t* buf, size_t byteOffset) {
  const uint8_t* p = buf + byteOffset;
  uint32_t word = static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                  static_cast<uint32_t>(p[2]) << 24;
  return static_cast<int32_t>(word) >> 8;
}

void Put24(uint8_t* buf, size_t byteOffset, int32_t v) {
  uint8_t* p = buf + byteOffset;
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}

void ConvertForPlayback(bool isInteger, int bytesPerSample, int channels, uint8_t* dest, const uint8_t* src,
                        int32_t frameCount, int step) {
  using namespace detail;
  if (bytesPerSample < 1 || bytesPerSample > 4 || channels < 1 || frameCount <= 0) return;
  if (step < 1) step = 1;
  const size_t inFrame = static_cast<size_t>(bytesPerSample) * channels;
  const int32_t outCount = frameCount / step;
  if (bytesPerSample == 1 || bytesPerSample == 2) {
    // Already what the device plays: only every step-th frame is kept. Output frame i never lies
    // beyond input frame i * step, so working forwards is safe in place.
    for (int32_t i = 0; i < outCount; ++i) {
      const uint8_t* in = src + static_cast<size_t>(i) * step * inFrame;
      uint8_t* out = dest + static_cast<size_t>(i) * inFrame;
      if (out != in) std::memmove(out, in, inFrame);
    }
    return;
  }
  // The factors are held as floats and each product is stored as a float before rounding, as the
  // player has always sounded.
  const float factor24 = static_cast<float>(32767.0 / 8388607.0);
  const float factor32 = static_cast<float>(32767.0 / 2147483647.0);
  const size_t outFrame = 2 * static_cast<size_t>(channels);
  for (int32_t i = 0; i < outCount; ++i) {
    const uint8_t* in = src + static_cast<size_t>(i) * step * inFrame;
    int32_t values[2] = {0, 0};
    int used = std::min(channels, 2);
    // Read the whole input frame before writing: in place, the output overlaps it.
    for (int c = 0; c < used; ++c) {
      const uint8_t* p = in + static_cast<size_t>(c) * bytesPerSample;
      float product;
      if (bytesPerSample == 3)
        product = static_cast<float>(static_cast<double>(Get24(p, 0)) * factor24);
      else if (isInteger)
        product = static_cast<float>(static_cast<double>(Get32(p)) * factor32);
      else
        product = static_cast<float>(static_cast<double>(ClampUnit(GetFloat(p))) * 32767.0);
      values[c] = static_cast<int32_t>(std::clamp(RoundEven(product), -32768.0, 32767.0));
    }
    uint8_t* out = dest + static_cast<size_t>(i) * outFrame;
    for (int c = 0; c < used; ++c) Put16(out + 2 * c, values[c]);
  }
}

void MixDifference(int percent, int bytesPerSample, int channels, uint8_t* dest, const uint8_t* unprocessed,
                   const uint8_t* processed, int32_t frameCount) {
  using namespace detail;
  if (channels < 1 || frameCount <= 0) return;
  const double factor = percent / 100.0;
  const size_t samples = static_cast<size_t>(frameCount) * channels;
  if (bytesPerSample == 1) {
    for (size_t i = 0; i < samples; ++i) {
      double a = static_cast<int>(unprocessed[i]) - 128;
      double b = static_cast<int>(processed[i]) - 128;
      double r = a - RoundEven(factor * b) + 128.0;
      dest[i] = static_cast<uint8_t>(std::clamp(r, 0.0, 255.0));
    }
  } else if (bytesPerSample == 2) {
    for (size_t i = 0; i < samples; ++i) {
      double a = Get16(unprocessed + 2 * i);
      double b = Get16(processed + 2 * i);
      double r = a - RoundEven(factor * b);
      Put16(dest + 2 * i, static_cast<int32_t>(std::clamp(r, -32768.0, 32767.0)));
    }
  }
}

}  // namespace klarwell
