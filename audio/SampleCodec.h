#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/WavFile.h"

namespace klarwell {

// Sample conversion between a WAV file's frame bytes and the engine's floats. Engine samples are in
// 16-bit units: stored value x GetSampleScale(rec), full scale about +-32767 for every format.
// Sample c of frame i lives at byte i * nBlockAlign + c * BytesPerSample. A file is stereo when
// nChannels is 2 and mono otherwise (LeftBuf only). No routine keeps state; any thread may call them
// on buffers it alone touches.

// The float limited to [-1, 1]; 0 for infinities and NaN.
float ClampUnit(float v);

// Engine value per stored value: 32767/127 (8-bit), 1 (16-bit), 32767/8388607 (24-bit),
// 32767/2147483647 (32-bit integer), 32767 (float); 0 for anything else. Call once per file.
double GetSampleScale(const TWavRecord& rec);

// Fills leftBuf[0..count) (and rightBuf for stereo) from `count` frames of `frames`. Unsupported
// widths leave the arrays unchanged. rightBuf may be null for mono files.
void DecodeFrames(int32_t count, const uint8_t* frames, const TWavRecord& rec, double scale, float* leftBuf,
                  float* rightBuf);

// Stores `value` (engine units) as sample `frameIndex` of channel 0 (isLeft, or any mono file) or
// channel 1: into leftBuf/rightBuf, into copy[frameIndex] when copy is not null, and into the frame
// bytes. Integer widths saturate at their range; floats are stored unlimited.
void EncodeSample(float* leftBuf, float* rightBuf, uint8_t* frames, double scale, const TWavRecord& rec,
                  int32_t frameIndex, bool isLeft, float value, float* copy);

// As EncodeSample; sets `changed` to 1 when the stored sample differs from the one it replaces
// (never resets it to 0).
void EncodeSampleChanged(float* leftBuf, float* rightBuf, uint8_t* frames, double scale,
                         const TWavRecord& rec, int32_t frameIndex, bool isLeft, float value, float* copy,
                         uint8_t& changed);

// Signed 24-bit little-endian sample at buf + byteOffset, sign-extended.
int32_t Get24(const uint8_t* buf, size_t byteOffset);
// Writes the low 24 bits of v, lowest byte first; no range check.
void Put24(uint8_t* buf, size_t byteOffset, int32_t v);

// Makes 16-bit frames for the output device from frames of `bytesPerSample` x `channels` bytes:
// output frame i from input frame i * step, for i < frameCount / step. dest may equal src.
// 2-byte samples are copied, wider ones scaled; 1-byte frames are copied unconverted (every
// step-th one). Other widths leave dest unchanged.
void ConvertForPlayback(bool isInteger, int bytesPerSample, int channels, uint8_t* dest, const uint8_t* src,
                        int32_t frameCount, int step);

// dest := unprocessed - percent/100 x processed, per sample, limited to the width's range, for 1- and
// 2-byte samples (other widths leave dest unchanged). dest may equal unprocessed.
void MixDifference(int percent, int bytesPerSample, int channels, uint8_t* dest, const uint8_t* unprocessed,
                   const uint8_t* processed, int32_t frameCount);

}  // namespace klarwell
