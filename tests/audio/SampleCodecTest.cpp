#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "audio/SampleCodec.h"

namespace klarwell {
namespace {

using TBytes = std::vector<uint8_t>;

// A record as OpenWav leaves it for the given form.
TWavRecord Rec(uint16_t tag, int channels, int bytesPerSample, uint8_t pcmSubFormat = 0, int blockAlign = 0) {
  TWavRecord rec;
  rec.Format.wFormatTag = tag;
  rec.Format.nChannels = static_cast<uint16_t>(channels);
  rec.Format.nSamplesPerSec = 44100;
  rec.Format.nBlockAlign = static_cast<uint16_t>(blockAlign != 0 ? blockAlign : channels * bytesPerSample);
  rec.BytesPerSample = static_cast<uint8_t>(bytesPerSample);
  rec.PcmSubFormat = pcmSubFormat;
  return rec;
}

TWavRecord Pcm(int channels, int bytesPerSample, int blockAlign = 0) {
  return Rec(WaveFormatPcm, channels, bytesPerSample, 0, blockAlign);
}

TWavRecord Float(int channels) {
  return Rec(WaveFormatIeeeFloat, channels, 4);
}

void PutFloat(uint8_t* p, float v) {
  uint32_t u = std::bit_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}

float GetFloat(const uint8_t* p) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(p[i]) << (8 * i);
  return std::bit_cast<float>(u);
}

int64_t StoredValue(const uint8_t* p, const TWavRecord& rec) {
  switch (rec.BytesPerSample) {
    case 1:
      return p[0];
    case 2:
      return static_cast<int16_t>(p[0] | p[1] << 8);
    case 3:
      return Get24(p, 0);
    default:
      return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
  }
}

TEST(SampleCodecTest, ClampUnitLimitsAndZeroesNonFinite) {
  const float inf = std::numeric_limits<float>::infinity();
  const float cases[][2] = {{0.5f, 0.5f},   {-0.25f, -0.25f}, {1.0f, 1.0f}, {-1.0f, -1.0f}, {1.5f, 1.0f},
                            {-7.0f, -1.0f}, {3e38f, 1.0f},    {inf, 0.0f},  {-inf, 0.0f},   {1e-40f, 1e-40f}};
  for (const auto& c : cases) EXPECT_EQ(ClampUnit(c[0]), c[1]) << c[0];
  EXPECT_EQ(ClampUnit(std::numeric_limits<float>::quiet_NaN()), 0.0f);
  EXPECT_EQ(ClampUnit(-std::numeric_limits<float>::quiet_NaN()), 0.0f);
}

TEST(SampleCodecTest, ScaleFollowsTheFormat) {
  struct TCase {
    TWavRecord Rec;
    double Scale;
  };
  const TCase cases[] = {
      {Pcm(1, 1), 32767.0 / 127},
      {Pcm(2, 2), 1.0},
      {Pcm(2, 3), 32767.0 / 8388607},
      {Pcm(1, 4), 32767.0 / 2147483647},
      {Float(2), 32767.0},
      {Rec(WaveFormatExtensible, 2, 3, 1), 32767.0 / 8388607},
      {Rec(WaveFormatExtensible, 2, 4, 0), 32767.0},
      {Rec(WaveFormatExtensible, 2, 4, 1), 32767.0 / 2147483647},
      {Rec(WaveFormatIeeeFloat, 1, 2), 0.0},
      {Pcm(1, 5), 0.0},
      {Rec(2, 1, 2), 0.0},
  };
  for (const TCase& c : cases) EXPECT_EQ(GetSampleScale(c.Rec), c.Scale);
  EXPECT_DOUBLE_EQ(GetSampleScale(Pcm(1, 1)), 258.00787401574803);
  EXPECT_DOUBLE_EQ(GetSampleScale(Pcm(1, 3)), 0.003906131256357581);
  EXPECT_DOUBLE_EQ(GetSampleScale(Pcm(1, 4)), 1.5258323408317903e-05);
}

TEST(SampleCodecTest, DecodesTheEdgeValuesOfEveryForm) {
  struct TCase {
    TWavRecord Rec;
    TBytes Frame;
    float Expected;
    float Tolerance;
  };
  TBytes f15(4), fNan(4), fNeg(4);
  PutFloat(f15.data(), 1.5f);
  PutFloat(fNan.data(), std::numeric_limits<float>::quiet_NaN());
  PutFloat(fNeg.data(), -0.5f);
  const TCase cases[] = {
      {Pcm(1, 1), {0}, -33025.0078125f, 0},
      {Pcm(1, 1), {128}, 0.0f, 0},
      {Pcm(1, 1), {255}, 32767.0f, 0},
      {Pcm(1, 2), {0x00, 0x80}, -32768.0f, 0},
      {Pcm(1, 2), {0xFF, 0x7F}, 32767.0f, 0},
      {Pcm(1, 3), {0xFF, 0xFF, 0x7F}, 32767.0f, 0.004f},
      {Pcm(1, 3), {0x00, 0x00, 0x80}, -32767.0039f, 0.004f},
      {Pcm(1, 4), {0xFF, 0xFF, 0xFF, 0x7F}, 32767.0f, 0},
      {Pcm(1, 4), {0x00, 0x00, 0x00, 0x80}, -32767.0f, 0.001f},
      {Float(1), f15, 32767.0f, 0},
      {Float(1), fNan, 0.0f, 0},
      {Float(1), fNeg, -16383.5f, 0},
      {Rec(WaveFormatExtensible, 1, 4, 0), f15, 32767.0f, 0},
      {Rec(WaveFormatExtensible, 1, 4, 0), fNeg, -16383.5f, 0},
  };
  for (const TCase& c : cases) {
    float left = 12345.0f;
    DecodeFrames(1, c.Frame.data(), c.Rec, GetSampleScale(c.Rec), &left, nullptr);
    EXPECT_NEAR(left, c.Expected, c.Tolerance) << int(c.Rec.BytesPerSample) << "/" << c.Rec.Format.wFormatTag;
  }
}

// Stereo frames put channel 0 in LeftBuf and channel 1 in RightBuf, stepping by nBlockAlign (which may
// carry a padding byte); unsupported widths touch nothing.
TEST(SampleCodecTest, DecodeWalksFramesByBlockAlign) {
  TWavRecord padded = Pcm(2, 2, 5);
  TBytes frames = {0x01, 0x00, 0x02, 0x00, 0xEE, 0x03, 0x00, 0xFF, 0xFF, 0xEE};
  float left[2] = {}, right[2] = {};
  DecodeFrames(2, frames.data(), padded, 1.0, left, right);
  EXPECT_EQ(left[0], 1.0f);
  EXPECT_EQ(right[0], 2.0f);
  EXPECT_EQ(left[1], 3.0f);
  EXPECT_EQ(right[1], -1.0f);

  TWavRecord wide = Pcm(1, 5);
  float untouched = 7.0f;
  DecodeFrames(1, frames.data(), wide, 1.0, &untouched, nullptr);
  EXPECT_EQ(untouched, 7.0f);
}

// Decoding every stored value and encoding it back unchanged gives the same bytes, in both channels.
TEST(SampleCodecTest, EverySmallIntegerValueRoundTripsExactly) {
  for (int bytes : {1, 2, 3}) {
    for (int channels : {1, 2}) {
      TWavRecord rec = Pcm(channels, bytes);
      const double scale = GetSampleScale(rec);
      const int64_t values = int64_t{1} << (8 * bytes);
      const int32_t chunk = 1 << 16;
      std::vector<uint8_t> frames(static_cast<size_t>(chunk) * rec.Format.nBlockAlign);
      std::vector<float> left(chunk), right(chunk);
      int64_t mismatches = 0;
      for (int64_t base = 0; base < values; base += chunk) {
        int32_t count = static_cast<int32_t>(std::min<int64_t>(chunk, values - base));
        for (int32_t i = 0; i < count; ++i) {
          for (int c = 0; c < channels; ++c) {
            // Channel 1 runs the values backwards so that both see all of them.
            uint32_t v = static_cast<uint32_t>(c == 0 ? base + i : values - 1 - (base + i));
            for (int k = 0; k < bytes; ++k)
              frames[static_cast<size_t>(i) * rec.Format.nBlockAlign + c * bytes + k] =
                  static_cast<uint8_t>(v >> (8 * k));
          }
        }
        std::vector<uint8_t> original(frames);
        DecodeFrames(count, frames.data(), rec, scale, left.data(), right.data());
        std::memset(frames.data(), 0x5A, frames.size());
        for (int32_t i = 0; i < count; ++i) {
          EncodeSample(left.data(), right.data(), frames.data(), scale, rec, i, true, left[i], nullptr);
          if (channels == 2)
            EncodeSample(left.data(), right.data(), frames.data(), scale, rec, i, false, right[i], nullptr);
        }
        size_t used = static_cast<size_t>(count) * rec.Format.nBlockAlign;
        for (size_t k = 0; k < used; ++k) mismatches += frames[k] != original[k];
      }
      EXPECT_EQ(mismatches, 0) << bytes << " bytes, " << channels << " channels";
    }
  }
}

// A 32-bit stored value (integer or float) cannot always survive a 32-bit float sample: the round
// trip stays within one rounding of that float.
TEST(SampleCodecTest, WideValuesRoundTripWithinOneFloatRounding) {
  std::mt19937 rng(20261208);
  TWavRecord intRec = Pcm(1, 4);
  const double intScale = GetSampleScale(intRec);
  std::vector<int32_t> ints = {0, 1, -1, 2147483647, -2147483647 - 1, 1 << 24, (1 << 24) + 1, -(1 << 30) - 3};
  for (int i = 0; i < 100000; ++i) ints.push_back(static_cast<int32_t>(rng()));
  for (int32_t v : ints) {
    uint8_t frame[4];
    for (int k = 0; k < 4; ++k) frame[k] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * k));
    float left = 0;
    DecodeFrames(1, frame, intRec, intScale, &left, nullptr);
    EncodeSample(&left, nullptr, frame, intScale, intRec, 0, true, left, nullptr);
    int64_t back = StoredValue(frame, intRec);
    // Half a float step of the decoded value, in stored units, plus the final rounding.
    double allowed = (std::nextafter(std::fabs(left), INFINITY) - std::fabs(left)) / 2 / intScale + 0.5;
    ASSERT_LE(std::fabs(static_cast<double>(back) - v), allowed) << v;
  }

  TWavRecord floatRec = Float(1);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::vector<float> floats = {0.0f, 1.0f, -1.0f, 1e-30f, -0.75f, 0.99999994f};
  for (int i = 0; i < 100000; ++i) floats.push_back(unit(rng));
  for (float v : floats) {
    uint8_t frame[4];
    PutFloat(frame, v);
    float left = 0;
    DecodeFrames(1, frame, floatRec, 32767.0, &left, nullptr);
    EncodeSample(&left, nullptr, frame, 32767.0, floatRec, 0, true, left, nullptr);
    float back = GetFloat(frame);
    // The engine value carries about 2^-24 relative precision, i.e. about 2^-24 x 32767 in a
    // stored float near full scale, and at least as much absolute precision near zero.
    double allowed = std::max(std::fabs(static_cast<double>(v)) * 0x1p-23, 0x1p-24 / 32767.0 * 2);
    ASSERT_LE(std::fabs(static_cast<double>(back) - v), allowed) << v;
  }
}

// A repair that overshoots full scale is stored as the extreme value of the width, never wrapped to
// the opposite sign; float files keep the value beyond full scale.
TEST(SampleCodecTest, EncoderSaturatesIntegerWidths) {
  const float inf = std::numeric_limits<float>::infinity();
  struct TCase {
    TWavRecord Rec;
    float Value;
    int64_t Stored;
  };
  const TCase cases[] = {
      {Pcm(1, 1), 40000.0f, 255},
      {Pcm(1, 1), -40000.0f, 0},
      {Pcm(1, 1), 32767.0f, 255},
      {Pcm(1, 1), -33025.0078125f, 0},
      {Pcm(1, 1), inf, 255},
      {Pcm(1, 1), -inf, 0},
      {Pcm(1, 2), 32767.6f, 32767},
      {Pcm(1, 2), 40000.0f, 32767},
      {Pcm(1, 2), -32769.0f, -32768},
      {Pcm(1, 2), 1e30f, 32767},
      {Pcm(1, 3), 32768.0f, 8388607},
      {Pcm(1, 3), -40000.0f, -8388608},
      {Pcm(1, 3), 1e30f, 8388607},
      {Pcm(1, 4), 32768.0f, 2147483647},
      {Pcm(1, 4), -32768.0f, -2147483647 - 1},
      {Pcm(1, 4), -inf, -2147483647 - 1},
      {Rec(WaveFormatExtensible, 1, 3, 1), 50000.0f, 8388607},
  };
  for (const TCase& c : cases) {
    TBytes frame(4, 0x11);
    float left = 0;
    EncodeSample(&left, nullptr, frame.data(), GetSampleScale(c.Rec), c.Rec, 0, true, c.Value, nullptr);
    EXPECT_EQ(StoredValue(frame.data(), c.Rec), c.Stored) << int(c.Rec.BytesPerSample) << " " << c.Value;
    EXPECT_EQ(left, c.Value);
  }
  TWavRecord f = Float(1);
  uint8_t frame[4];
  float left = 0;
  EncodeSample(&left, nullptr, frame, 32767.0, f, 0, true, 49150.5f, nullptr);
  EXPECT_EQ(GetFloat(frame), 1.5f);
}

// The change flag compares what is really stored after saturation, at the extremes too, and is only
// ever set.
TEST(SampleCodecTest, ChangedFlagFollowsTheStoredValue) {
  struct TCase {
    TWavRecord Rec;
    int64_t Stored;  // integer widths: the stored value before
    float Value;
    bool Changes;
  };
  const TCase cases[] = {
      {Pcm(2, 1), 255, 40000.0f, false},
      {Pcm(2, 1), 254, 40000.0f, true},
      {Pcm(2, 1), 0, -40000.0f, false},
      {Pcm(2, 2), 32767, 99999.0f, false},
      {Pcm(2, 2), -32768, -99999.0f, false},
      {Pcm(2, 2), -32768, 99999.0f, true},
      {Pcm(2, 3), 8388607, 40000.0f, false},
      {Pcm(2, 3), -8388608, -40000.0f, false},
      {Pcm(2, 3), 8388606, 40000.0f, true},
      {Pcm(2, 4), 2147483647, 40000.0f, false},
      {Pcm(2, 4), -2147483647 - 1, -40000.0f, false},
      {Pcm(2, 4), -2147483647, -40000.0f, true},
  };
  for (const TCase& c : cases) {
    for (bool isLeft : {true, false}) {
      TBytes frame(8, 0);
      const int bytes = c.Rec.BytesPerSample;
      uint8_t* p = frame.data() + (isLeft ? 0 : bytes);
      for (int k = 0; k < bytes; ++k) p[k] = static_cast<uint8_t>(static_cast<uint64_t>(c.Stored) >> (8 * k));
      float left = 0, right = 0;
      uint8_t changed = 0;
      EncodeSampleChanged(&left, &right, frame.data(), GetSampleScale(c.Rec), c.Rec, 0, isLeft, c.Value,
                          nullptr, changed);
      EXPECT_EQ(changed, c.Changes ? 1 : 0)
          << bytes << " " << c.Stored << " " << c.Value << " left " << isLeft;
    }
  }
}

// A value that encodes to the stored sample leaves the flag as it was; one stored step away sets it,
// in either channel and every width.
TEST(SampleCodecTest, ChangedFlagForOneStepInEveryWidth) {
  const TWavRecord recs[] = {Pcm(2, 1), Pcm(2, 2), Pcm(2, 3),
                             Pcm(2, 4), Float(2),  Rec(WaveFormatExtensible, 2, 4, 0)};
  for (const TWavRecord& rec : recs) {
    const double scale = GetSampleScale(rec);
    const int bytes = rec.BytesPerSample;
    TBytes frame(2 * bytes);
    for (int k = 0; k < 2 * bytes; ++k) frame[k] = static_cast<uint8_t>(0x30 + k);
    if (bytes == 4 && scale == 32767.0) {
      PutFloat(frame.data(), 0.25f);
      PutFloat(frame.data() + 4, -0.5f);
    } else if (bytes == 4) {
      // Values a float sample holds exactly enough to encode back (below 2^23).
      const int32_t values[2] = {0x123456, -0x654321};
      for (int c = 0; c < 2; ++c)
        for (int k = 0; k < 4; ++k)
          frame[4 * c + k] = static_cast<uint8_t>(static_cast<uint32_t>(values[c]) >> (8 * k));
    }
    float left = 0, right = 0;
    DecodeFrames(1, frame.data(), rec, scale, &left, &right);
    for (bool isLeft : {true, false}) {
      float same = isLeft ? left : right;
      for (uint8_t before : {uint8_t{0}, uint8_t{1}}) {
        uint8_t changed = before;
        TBytes copy = frame;
        EncodeSampleChanged(&left, &right, copy.data(), scale, rec, 0, isLeft, same, nullptr, changed);
        EXPECT_EQ(changed, before) << bytes << " left " << isLeft;
        EXPECT_EQ(copy, frame);
      }
      uint8_t changed = 0;
      TBytes copy = frame;
      // One stored step (one scale; for floats one float step of the stored value).
      float step =
          bytes == 4 && scale == 32767.0 ? std::nextafter(same, 1e9f) : static_cast<float>(same + scale);
      EncodeSampleChanged(&left, &right, copy.data(), scale, rec, 0, isLeft, step, nullptr, changed);
      EXPECT_EQ(changed, 1) << bytes << " left " << isLeft;
    }
  }
}

TEST(SampleCodecTest, EncodeRoundsHalvesToEven) {
  struct TCase {
    float Value;
    int64_t Stored;
  };
  const TCase cases16[] = {{2.5f, 2}, {3.5f, 4}, {-2.5f, -2}, {-3.5f, -4},
                           {0.5f, 0}, {1.5f, 2}, {2.4999f, 2}};
  TWavRecord rec = Pcm(1, 2);
  for (const TCase& c : cases16) {
    uint8_t frame[4] = {};
    float left;
    EncodeSample(&left, nullptr, frame, 1.0, rec, 0, true, c.Value, nullptr);
    EXPECT_EQ(StoredValue(frame, rec), c.Stored) << c.Value;
  }
  // 8-bit rounds q + 128 (with a unit scale, so that the halves are exact): 128.5 stays 128, 129.5
  // goes to 130, 127.5 to 128.
  TWavRecord rec8 = Pcm(1, 1);
  const TCase cases8[] = {{0.5f, 128}, {1.5f, 130}, {-0.5f, 128}, {-1.5f, 126}};
  for (const TCase& c : cases8) {
    uint8_t frame[4] = {};
    float left;
    EncodeSample(&left, nullptr, frame, 1.0, rec8, 0, true, c.Value, nullptr);
    EXPECT_EQ(StoredValue(frame, rec8), c.Stored) << c.Value;
  }
}

// The value goes to the channel's array and the copy; a mono file ignores the channel flag.
TEST(SampleCodecTest, EncodeStoresIntoTheArrays) {
  TWavRecord stereo = Pcm(2, 2);
  uint8_t frames[8] = {};
  float left[2] = {}, right[2] = {}, copy[2] = {};
  EncodeSample(left, right, frames, 1.0, stereo, 1, false, 100.0f, copy);
  EXPECT_EQ(right[1], 100.0f);
  EXPECT_EQ(left[1], 0.0f);
  EXPECT_EQ(copy[1], 100.0f);
  EXPECT_EQ(frames[6], 100);
  EXPECT_EQ(frames[4], 0);

  TWavRecord mono = Pcm(1, 2);
  uint8_t monoFrames[4] = {};
  float monoLeft[2] = {};
  EncodeSample(monoLeft, nullptr, monoFrames, 1.0, mono, 1, false, -2.0f, nullptr);
  EXPECT_EQ(monoLeft[1], -2.0f);
  EXPECT_EQ(monoFrames[2], 0xFE);
  EXPECT_EQ(monoFrames[3], 0xFF);

  // Padded stereo: channel 1 of frame 1 sits at 1 x 5 + 2.
  TWavRecord padded = Pcm(2, 2, 5);
  uint8_t paddedFrames[10] = {};
  EncodeSample(left, right, paddedFrames, 1.0, padded, 1, false, 7.0f, nullptr);
  EXPECT_EQ(paddedFrames[7], 7);

  // An unsupported width writes nothing.
  TWavRecord wide = Pcm(1, 5);
  uint8_t wideFrames[5] = {9, 9, 9, 9, 9};
  EncodeSample(left, right, wideFrames, 1.0, wide, 0, true, 7.0f, nullptr);
  EXPECT_EQ(wideFrames[0], 9);
}

TEST(SampleCodecTest, Get24AndPut24) {
  const int32_t values[] = {0, 1, -1, 8388607, -8388608, 0x123456, -0x123456};
  for (int32_t v : values) {
    uint8_t buf[5] = {0xAA, 0, 0, 0, 0xBB};
    Put24(buf, 1, v);
    EXPECT_EQ(Get24(buf, 1), v);
    EXPECT_EQ(buf[0], 0xAA);
    EXPECT_EQ(buf[4], 0xBB);
  }
  uint8_t buf[3];
  Put24(buf, 0, 0x01ABCDEF);  // only the low 24 bits
  EXPECT_EQ(buf[0], 0xEF);
  EXPECT_EQ(buf[1], 0xCD);
  EXPECT_EQ(buf[2], 0xAB);
}

TEST(SampleCodecTest, ConvertForPlaybackMakesSixteenBitFrames) {
  // 1000 stereo 24-bit frames, step 2, in place: 500 frames taken from frames 0, 2, 4, ...
  const int32_t count = 1000;
  TBytes frames(count * 6);
  for (int32_t i = 0; i < count; ++i) {
    Put24(frames.data(), i * 6, i * 1000);
    Put24(frames.data(), i * 6 + 3, -i * 997);
  }
  ConvertForPlayback(true, 3, 2, frames.data(), frames.data(), count, 2);
  const float f24 = static_cast<float>(32767.0 / 8388607.0);
  for (int32_t i = 0; i < count / 2; ++i) {
    int16_t l = static_cast<int16_t>(frames[i * 4] | frames[i * 4 + 1] << 8);
    int16_t r = static_cast<int16_t>(frames[i * 4 + 2] | frames[i * 4 + 3] << 8);
    ASSERT_EQ(l, std::nearbyint(static_cast<float>(2.0 * i * 1000 * f24))) << i;
    ASSERT_EQ(r, std::nearbyint(static_cast<float>(-2.0 * i * 997 * f24))) << i;
  }

  struct TCase {
    bool IsInteger;
    int Bytes;
    TBytes In;
    int16_t Out;
  };
  TBytes f15(4), fNan(4), fHalf(4);
  PutFloat(f15.data(), 1.5f);
  PutFloat(fNan.data(), std::numeric_limits<float>::quiet_NaN());
  PutFloat(fHalf.data(), -0.5f);
  const TCase cases[] = {
      {true, 3, {0xFF, 0xFF, 0x7F}, 32767},
      {true, 3, {0x00, 0x00, 0x80}, -32767},
      {true, 4, {0xFF, 0xFF, 0xFF, 0x7F}, 32767},
      {true, 4, {0x00, 0x00, 0x00, 0x80}, -32767},
      {false, 4, f15, 32767},
      {false, 4, fNan, 0},
      {false, 4, fHalf, -16384},
      {true, 2, {0x34, 0x12}, 0x1234},
  };
  for (const TCase& c : cases) {
    TBytes out(2, 0);
    ConvertForPlayback(c.IsInteger, c.Bytes, 1, out.data(), c.In.data(), 1, 1);
    EXPECT_EQ(static_cast<int16_t>(out[0] | out[1] << 8), c.Out) << c.Bytes;
  }
}

// 8-bit frames are played as they are, but a step of 2 must still halve the rate: otherwise files
// at 88.2 kHz and above play at the wrong speed.
TEST(SampleCodecTest, ConvertForPlaybackStepsEightAndSixteenBitFrames) {
  for (int bytes : {1, 2}) {
    for (int channels : {1, 2}) {
      const size_t frameBytes = static_cast<size_t>(bytes) * channels;
      TBytes frames(10 * frameBytes);
      for (size_t k = 0; k < frames.size(); ++k) frames[k] = static_cast<uint8_t>(k);
      TBytes original = frames;
      ConvertForPlayback(true, bytes, channels, frames.data(), frames.data(), 10, 1);
      EXPECT_EQ(frames, original);
      ConvertForPlayback(true, bytes, channels, frames.data(), frames.data(), 10, 2);
      for (size_t i = 0; i < 5; ++i)
        for (size_t k = 0; k < frameBytes; ++k)
          EXPECT_EQ(frames[i * frameBytes + k], original[2 * i * frameBytes + k]) << bytes << "/" << channels;
    }
  }
  TBytes wide(10, 3), copy = wide;
  ConvertForPlayback(true, 5, 1, wide.data(), wide.data(), 2, 1);
  EXPECT_EQ(wide, copy);
}

TEST(SampleCodecTest, MixDifferenceRemovesTheProcessedSignal) {
  for (int channels : {1, 2}) {
    TBytes a(8 * channels), b;
    for (size_t k = 0; k < a.size(); ++k) a[k] = static_cast<uint8_t>(k * 31);
    b = a;
    MixDifference(100, 1, channels, a.data(), a.data(), b.data(), 8);
    EXPECT_EQ(a, TBytes(8 * channels, 128)) << channels;
  }
  TBytes a = {228}, b = {228};
  MixDifference(95, 1, 1, a.data(), a.data(), b.data(), 1);
  EXPECT_EQ(a[0], 133);
  TBytes lo = {0}, hi = {255};
  MixDifference(100, 1, 1, lo.data(), lo.data(), hi.data(), 1);
  EXPECT_EQ(lo[0], 0);  // -128 - 127 limited

  struct TCase {
    int Percent;
    int16_t A, B, Out;
  };
  const TCase cases[] = {{100, -32768, 32767, -32768},
                         {100, 32767, -32768, 32767},
                         {100, 1000, 990, 10},
                         {95, 1000, 1000, 50},
                         {95, 0, 20, -19}};
  for (const TCase& c : cases) {
    uint8_t ua[2] = {static_cast<uint8_t>(c.A), static_cast<uint8_t>(c.A >> 8)};
    uint8_t ub[2] = {static_cast<uint8_t>(c.B), static_cast<uint8_t>(c.B >> 8)};
    uint8_t out[2];
    MixDifference(c.Percent, 2, 1, out, ua, ub, 1);
    EXPECT_EQ(static_cast<int16_t>(out[0] | out[1] << 8), c.Out) << c.A << " " << c.B;
  }
  TBytes w(6, 9), w2(6, 1);
  MixDifference(100, 3, 1, w.data(), w.data(), w2.data(), 2);
  EXPECT_EQ(w, TBytes(6, 9));
}

}  // namespace
}  // namespace klarwell
