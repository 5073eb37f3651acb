#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/ChunkIo.h"

namespace klarwell {

struct TFlacParts;

// A FLAC stream seen through the block interface: reading decodes into raw little-endian frames as a
// WAV data chunk would hold them (8-bit offset by 128, other widths signed, a width that is not a
// whole number of bytes shifted up to fill its bytes); writing takes such frames and encodes them.
// Owned by a TWavRecord, whose file it reads or writes; one thread at a time.
class TFlacStream {
 public:
  ~TFlacStream();
  TFlacStream(const TFlacStream&) = delete;
  TFlacStream& operator=(const TFlacStream&) = delete;

  // The stream's shape, as its STREAMINFO gives it (frames: the frames that really decode).
  struct TShape {
    uint32_t Channels = 0, SampleRate = 0, BitsPerSample = 0;
    uint64_t Frames = 0;
    bool Truncated = false;  // fewer frames decode than STREAMINFO claims
  };

  // Reads the metadata of the FLAC stream in `file` (positioned anywhere) and checks that its frames
  // can be reached. Null with the reason's message key in `failure` (see FileDetail's TWavMsg) when the
  // stream cannot be decoded. `file` must outlive the stream.
  static std::unique_ptr<TFlacStream> OpenDecoder(TChunkFile& file, TShape& shape, int& failure);

  // An encoder writing to `file` (empty, open for writing) a stream of `source`'s shape and with
  // all of its metadata blocks, in their order; a seek table is rebuilt for the new frames. Null
  // when the encoder cannot start.
  static std::unique_ptr<TFlacStream> OpenEncoder(TChunkFile& file, const TFlacStream& source);

  // `count` bytes of raw frames from byte `position` of the decoded samples. Reads may go back to
  // the start of the previous read at no cost; further back, the decoder seeks. False with a message
  // when the frames cannot be decoded whole.
  bool Read(void* dest, uint64_t position, uint32_t count, std::string& msg);

  // Raw frames for byte `position` on. A write may overwrite the frames of the previous write from
  // its start on, never anything before that: those frames are final and encoded.
  bool Write(const uint8_t* src, uint64_t position, uint32_t count, std::string& msg);

  // Encodes what is left and finishes the stream (STREAMINFO with its MD5, the seek table). False
  // with a message when the stream could not be written whole.
  bool Finish(std::string& msg);

 private:
  TFlacStream();
  std::unique_ptr<TFlacParts> Parts_;
};

}  // namespace klarwell
