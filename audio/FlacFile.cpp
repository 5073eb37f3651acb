#include "audio/FlacFile.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "audio/FileDetail.h"

namespace klarwell {

namespace {

const TTextPair kBrokenFrame = {"Fehlerhafter FLAC-Frame", "Broken FLAC frame"};
const TTextPair kEncodeError = {"Fehler beim FLAC-Kodieren", "FLAC encoding error"};

// Level 4: within a few hundredths of a percent of level 5's size (the usual default, which most
// inputs were made with), at a quarter less encoding time, which a 96 kHz side notices beside the engine.
constexpr unsigned kCompressionLevel = 4;
// A rebuilt seek table gets a point every this many seconds.
constexpr unsigned kSeekPointSeconds = 10;
// Reads further ahead than this are reached by seeking rather than by decoding through.
constexpr uint64_t kDecodeThroughFrames = 1u << 20;

struct TMetadataDeleter {
  void operator()(FLAC__StreamMetadata* m) const { FLAC__metadata_object_delete(m); }
};
using TMetadata = std::unique_ptr<FLAC__StreamMetadata, TMetadataDeleter>;

}  // namespace

struct TFlacParts {
  TChunkFile* File = nullptr;
  FLAC__StreamDecoder* Decoder = nullptr;
  FLAC__StreamEncoder* Encoder = nullptr;
  TFlacStream::TShape Shape;
  unsigned BytesPerSample = 0, Shift = 0, FrameBytes = 0;
  std::vector<TMetadata> Blocks;  // every block but STREAMINFO, in the file's order

  // Decoding: the raw frames [WindowStart, WindowStart + Window.size() / FrameBytes).
  std::vector<uint8_t> Window;
  uint64_t WindowStart = 0;
  bool Counting = false;  // only count decoded frames (the check for a cut stream)
  uint64_t Counted = 0;
  bool Broken = false;  // the decoder met a frame it could not decode
  bool MetadataDone = false;

  // Encoding: the written frames not yet final, from PendingStart on. Final frames go to the
  // encoding thread through Queue (bounded, so that memory stays flat); Spare keeps emptied buffers
  // for reuse. Samples is the encoding thread's scratch.
  std::vector<uint8_t> Pending;
  uint64_t PendingStart = 0;
  std::vector<FLAC__int32> Samples;
  std::thread Encoding;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<std::vector<uint8_t>> Queue;
  std::vector<std::vector<uint8_t>> Spare;
  bool Closing = false;
  bool EncodeFailed = false;
  bool WriteFailed = false;

  void EncodeLoop();
  // Hands final frames to the encoding thread; waits while it is behind by a full queue.
  void Enqueue(const uint8_t* raw, size_t bytes);
  // Lets the encoding thread finish what is queued, and ends it.
  void StopEncoding();

  uint64_t WindowFrames() const { return Window.size() / FrameBytes; }

  ~TFlacParts() {
    StopEncoding();
    if (Decoder) FLAC__stream_decoder_delete(Decoder);
    if (Encoder) FLAC__stream_encoder_delete(Encoder);
  }
};

namespace {

// ---- stream callbacks over the record's file ----

FLAC__StreamDecoderReadStatus ReadCb(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                     void* data) {
  auto* p = static_cast<TFlacParts*>(data);
  const int64_t got = *bytes == 0 ? 0 : p->File->Read(buffer, *bytes);
  if (got < 0) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
  *bytes = static_cast<size_t>(got);
  return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                  : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus SeekCb(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* data) {
  return static_cast<TFlacParts*>(data)->File->Seek(offset) ? FLAC__STREAM_DECODER_SEEK_STATUS_OK
                                                            : FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
}

FLAC__StreamDecoderTellStatus TellCb(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* data) {
  *offset = static_cast<TFlacParts*>(data)->File->Position();
  return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus LengthCb(const FLAC__StreamDecoder*, FLAC__uint64* length, void* data) {
  *length = static_cast<TFlacParts*>(data)->File->FileSize();
  return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool EofCb(const FLAC__StreamDecoder*, void* data) {
  auto* p = static_cast<TFlacParts*>(data);
  return p->File->Position() >= p->File->FileSize();
}

// One decoded frame into the window, as raw little-endian frames.
FLAC__StreamDecoderWriteStatus WriteCb(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                       const FLAC__int32* const buffer[], void* data) {
  auto* p = static_cast<TFlacParts*>(data);
  const unsigned count = frame->header.blocksize;
  // Each frame header names its own channels and width; one that differs from STREAMINFO's is as
  // broken as a bad CRC (and its buffers do not have the shape the stream's frames have).
  if (frame->header.channels != p->Shape.Channels ||
      frame->header.bits_per_sample != p->Shape.BitsPerSample) {
    p->Broken = true;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  if (p->Counting) {
    p->Counted += count;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  const uint64_t first = frame->header.number.sample_number;
  if (p->Window.empty()) p->WindowStart = first;
  if (first != p->WindowStart + p->WindowFrames()) return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  const size_t at = p->Window.size();
  p->Window.resize(at + size_t{count} * p->FrameBytes);
  uint8_t* out = p->Window.data() + at;
  const unsigned channels = p->Shape.Channels, bytes = p->BytesPerSample;
  for (unsigned i = 0; i < count; ++i) {
    for (unsigned c = 0; c < channels; ++c) {
      const uint32_t v = static_cast<uint32_t>(buffer[c][i]) << p->Shift;
      if (bytes == 1) {
        *out++ = static_cast<uint8_t>((v + 128u) & 0xFFu);
      } else {
        for (unsigned b = 0; b < bytes; ++b) *out++ = static_cast<uint8_t>(v >> (8 * b));
      }
    }
  }
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void MetadataCb(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* data) {
  auto* p = static_cast<TFlacParts*>(data);
  if (p->MetadataDone) return;
  if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
    p->Shape.Channels = m->data.stream_info.channels;
    p->Shape.SampleRate = m->data.stream_info.sample_rate;
    p->Shape.BitsPerSample = m->data.stream_info.bits_per_sample;
    p->Shape.Frames = m->data.stream_info.total_samples;
    return;
  }
  if (FLAC__StreamMetadata* copy = FLAC__metadata_object_clone(m)) p->Blocks.emplace_back(copy);
}

void ErrorCb(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
  static_cast<TFlacParts*>(data)->Broken = true;
}

FLAC__StreamEncoderWriteStatus EncWriteCb(const FLAC__StreamEncoder*, const FLAC__byte buffer[], size_t bytes,
                                          uint32_t, uint32_t, void* data) {
  auto* p = static_cast<TFlacParts*>(data);
  if (p->File->Write(buffer, bytes) != static_cast<int64_t>(bytes)) {
    p->WriteFailed = true;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
  }
  return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

FLAC__StreamEncoderSeekStatus EncSeekCb(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* data) {
  return static_cast<TFlacParts*>(data)->File->Seek(offset) ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
                                                            : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
}

FLAC__StreamEncoderTellStatus EncTellCb(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* data) {
  *offset = static_cast<TFlacParts*>(data)->File->Position();
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

void SetSampleLayout(TFlacParts& p) {
  p.BytesPerSample = (p.Shape.BitsPerSample + 7) / 8;
  p.Shift = p.BytesPerSample * 8 - p.Shape.BitsPerSample;
  p.FrameBytes = p.BytesPerSample * p.Shape.Channels;
}

// Decodes from the start and counts the frames that decode, up to the first one that does not.
uint64_t CountDecodableFrames(TFlacParts& p) {
  p.Counting = true;
  p.Counted = 0;
  p.Broken = false;
  if (FLAC__stream_decoder_reset(p.Decoder) &&
      FLAC__stream_decoder_process_until_end_of_metadata(p.Decoder)) {
    while (!p.Broken && FLAC__stream_decoder_get_state(p.Decoder) < FLAC__STREAM_DECODER_END_OF_STREAM)
      if (!FLAC__stream_decoder_process_single(p.Decoder)) break;
  }
  p.Counting = false;
  p.Broken = false;
  FLAC__stream_decoder_reset(p.Decoder);
  return p.Counted;
}

}  // namespace

TFlacStream::TFlacStream() : Parts_(std::make_unique<TFlacParts>()) {}
TFlacStream::~TFlacStream() = default;

std::unique_ptr<TFlacStream> TFlacStream::OpenDecoder(TChunkFile& file, TShape& shape, int& failure) {
  using namespace detail;
  std::unique_ptr<TFlacStream> stream(new TFlacStream());
  TFlacParts& p = *stream->Parts_;
  p.File = &file;
  failure = MsgCannotReadFormat;
  p.Decoder = FLAC__stream_decoder_new();
  if (!p.Decoder || !file.Seek(0)) return nullptr;
  FLAC__stream_decoder_set_md5_checking(p.Decoder, false);
  FLAC__stream_decoder_set_metadata_respond_all(p.Decoder);
  if (FLAC__stream_decoder_init_stream(p.Decoder, ReadCb, SeekCb, TellCb, LengthCb, EofCb, WriteCb,
                                       MetadataCb, ErrorCb, &p) != FLAC__STREAM_DECODER_INIT_STATUS_OK ||
      !FLAC__stream_decoder_process_until_end_of_metadata(p.Decoder) || p.Shape.SampleRate == 0)
    return nullptr;
  // Metadata is only gathered once; a second pass (the frame count below) would add it again.
  p.MetadataDone = true;

  failure = MsgUnsupportedFormat;
  if (p.Shape.BitsPerSample < 4 || p.Shape.BitsPerSample > 32) return nullptr;
  failure = MsgUnsupportedChannels;
  if (p.Shape.Channels != 1 && p.Shape.Channels != 2) return nullptr;
  SetSampleLayout(p);

  // A stream whose last frame can be found is whole; otherwise (cut, or its length not recorded)
  // what decodes is what there is.
  const uint64_t claimed = p.Shape.Frames;
  const bool whole = claimed != 0 && FLAC__stream_decoder_seek_absolute(p.Decoder, claimed - 1) && !p.Broken;
  if (!whole) {
    p.Shape.Frames = CountDecodableFrames(p);
    p.Shape.Truncated = claimed != 0 && p.Shape.Frames < claimed;
  }
  p.Window.clear();
  p.Broken = false;
  failure = MsgNoData;
  if (p.Shape.Frames == 0) return nullptr;
  shape = p.Shape;
  return stream;
}

std::unique_ptr<TFlacStream> TFlacStream::OpenEncoder(TChunkFile& file, const TFlacStream& source) {
  std::unique_ptr<TFlacStream> stream(new TFlacStream());
  TFlacParts& p = *stream->Parts_;
  const TFlacParts& s = *source.Parts_;
  p.File = &file;
  p.Shape = s.Shape;
  SetSampleLayout(p);
  for (const TMetadata& block : s.Blocks) {
    TMetadata copy;
    if (block->type == FLAC__METADATA_TYPE_SEEKTABLE) {
      // The old points name byte offsets of the old frames: the table is made anew and filled in
      // by the encoder as it goes.
      copy.reset(FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE));
      if (copy && s.Shape.Frames != 0 &&
          (!FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
               copy.get(), kSeekPointSeconds * s.Shape.SampleRate, s.Shape.Frames) ||
           !FLAC__metadata_object_seektable_template_sort(copy.get(), true)))
        return nullptr;
    } else {
      copy.reset(FLAC__metadata_object_clone(block.get()));
    }
    if (!copy) return nullptr;
    p.Blocks.push_back(std::move(copy));
  }
  std::vector<FLAC__StreamMetadata*> blocks;
  for (const TMetadata& block : p.Blocks) blocks.push_back(block.get());

  p.Encoder = FLAC__stream_encoder_new();
  if (!p.Encoder) return nullptr;
  FLAC__StreamEncoder* e = p.Encoder;
  bool ok = FLAC__stream_encoder_set_channels(e, p.Shape.Channels) &&
            FLAC__stream_encoder_set_bits_per_sample(e, p.Shape.BitsPerSample) &&
            FLAC__stream_encoder_set_sample_rate(e, p.Shape.SampleRate) &&
            // The subset caps widths at 24 bits and block sizes by rate; wider streams leave it.
            FLAC__stream_encoder_set_streamable_subset(e, p.Shape.BitsPerSample <= 24) &&
            FLAC__stream_encoder_set_compression_level(e, kCompressionLevel) &&
            FLAC__stream_encoder_set_total_samples_estimate(e, p.Shape.Frames) &&
            FLAC__stream_encoder_set_metadata(e, blocks.empty() ? nullptr : blocks.data(),
                                              static_cast<uint32_t>(blocks.size()));
  if (!ok || FLAC__stream_encoder_init_stream(e, EncWriteCb, EncSeekCb, EncTellCb, nullptr, &p) !=
                 FLAC__STREAM_ENCODER_INIT_STATUS_OK)
    return nullptr;
  // Encoding runs behind the driver on a thread of its own, on whatever the engine leaves idle.
  p.Encoding = std::thread([&p] { p.EncodeLoop(); });
  return stream;
}

bool TFlacStream::Read(void* dest, uint64_t position, uint32_t count, std::string& msg) {
  using namespace detail;
  TFlacParts& p = *Parts_;
  if (!p.Decoder || position % p.FrameBytes != 0 || count % p.FrameBytes != 0) {
    msg = Message(MsgSeek);
    return false;
  }
  const uint64_t first = position / p.FrameBytes, frames = count / p.FrameBytes;
  if (first + frames > p.Shape.Frames) {
    msg = Message(MsgRead);
    return false;
  }
  const uint64_t windowEnd = p.WindowStart + p.WindowFrames();
  if (first < p.WindowStart || first > windowEnd + kDecodeThroughFrames ||
      (p.Window.empty() && first != p.WindowStart)) {
    p.Window.clear();
    p.WindowStart = first;
    if (!FLAC__stream_decoder_seek_absolute(p.Decoder, first)) {
      FLAC__stream_decoder_flush(p.Decoder);
      msg = p.Broken ? Message(kBrokenFrame) : Message(MsgSeek);
      p.Broken = false;
      return false;
    }
    // Frames skipped on the way to the target are no concern of this read.
    p.Broken = false;
  }
  while (!p.Broken && p.WindowStart + p.WindowFrames() < first + frames) {
    // Frames before this read are never asked for again without a seek: they go before the window grows.
    if (first > p.WindowStart) {
      const uint64_t drop = std::min<uint64_t>(first - p.WindowStart, p.WindowFrames());
      p.Window.erase(p.Window.begin(), p.Window.begin() + static_cast<ptrdiff_t>(drop * p.FrameBytes));
      p.WindowStart += drop;
    }
    if (!FLAC__stream_decoder_process_single(p.Decoder) ||
        FLAC__stream_decoder_get_state(p.Decoder) >= FLAC__STREAM_DECODER_END_OF_STREAM)
      break;
  }
  if (p.Broken || p.WindowStart > first || p.WindowStart + p.WindowFrames() < first + frames) {
    msg = p.Broken ? Message(kBrokenFrame) : Message(MsgRead);
    // The decoder's position is unknown now: the next read starts over with a seek.
    p.Window.clear();
    p.WindowStart = ~uint64_t{0};
    p.Broken = false;
    return false;
  }
  std::memcpy(dest, p.Window.data() + (first - p.WindowStart) * p.FrameBytes, count);
  return true;
}

namespace {

// Hands the frames [0, frames) of `raw` to the encoder.
bool EncodeFrames(TFlacParts& p, const uint8_t* raw, uint64_t frames) {
  const unsigned channels = p.Shape.Channels, bytes = p.BytesPerSample;
  constexpr uint64_t kPiece = 4096;
  p.Samples.resize(kPiece * channels);
  for (uint64_t done = 0; done < frames;) {
    const uint64_t n = std::min(kPiece, frames - done);
    FLAC__int32* out = p.Samples.data();
    for (uint64_t i = 0; i < n * channels; ++i, raw += bytes) {
      int32_t v;
      if (bytes == 1) {
        v = static_cast<int32_t>(raw[0]) - 128;
      } else {
        uint32_t u = 0;
        for (unsigned b = 0; b < bytes; ++b) u |= static_cast<uint32_t>(raw[b]) << (8 * b);
        u <<= 32 - 8 * bytes;
        v = static_cast<int32_t>(u) >> (32 - 8 * bytes);
      }
      // A width below its bytes drops the low bits it cannot hold (only a repaired sample has any).
      *out++ = v >> p.Shift;
    }
    if (!FLAC__stream_encoder_process_interleaved(p.Encoder, p.Samples.data(), static_cast<uint32_t>(n)))
      return false;
    done += n;
  }
  return true;
}

}  // namespace

void TFlacParts::EncodeLoop() {
  std::unique_lock<std::mutex> lock(Mutex);
  for (;;) {
    Changed.wait(lock, [this] { return Closing || !Queue.empty(); });
    if (Queue.empty()) return;
    std::vector<uint8_t> frames = std::move(Queue.front());
    Queue.pop_front();
    lock.unlock();
    // After a failure the rest is only drained: the output is discarded anyway.
    const bool ok = EncodeFailed || EncodeFrames(*this, frames.data(), frames.size() / FrameBytes);
    lock.lock();
    EncodeFailed = EncodeFailed || !ok;
    frames.clear();
    Spare.push_back(std::move(frames));
    Changed.notify_all();
  }
}

void TFlacParts::Enqueue(const uint8_t* raw, size_t bytes) {
  if (bytes == 0) return;
  std::unique_lock<std::mutex> lock(Mutex);
  Changed.wait(lock, [this] { return Queue.size() < 3; });
  std::vector<uint8_t> frames;
  if (!Spare.empty()) {
    frames = std::move(Spare.back());
    Spare.pop_back();
  }
  frames.assign(raw, raw + bytes);
  Queue.push_back(std::move(frames));
  Changed.notify_all();
}

void TFlacParts::StopEncoding() {
  if (!Encoding.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(Mutex);
    Closing = true;
  }
  Changed.notify_all();
  Encoding.join();
}

bool TFlacStream::Write(const uint8_t* src, uint64_t position, uint32_t count, std::string& msg) {
  using namespace detail;
  TFlacParts& p = *Parts_;
  const uint64_t pendingEnd = p.PendingStart + p.Pending.size() / p.FrameBytes;
  const uint64_t first = position / p.FrameBytes;
  if (!p.Encoder || position % p.FrameBytes != 0 || count % p.FrameBytes != 0 || first < p.PendingStart ||
      first > pendingEnd) {
    msg = Message(MsgSeek);
    return false;
  }
  // Everything before this write is final.
  const uint64_t final = first - p.PendingStart;
  if (final != 0) {
    p.Enqueue(p.Pending.data(), final * p.FrameBytes);
    p.Pending.erase(p.Pending.begin(), p.Pending.begin() + static_cast<ptrdiff_t>(final * p.FrameBytes));
    p.PendingStart = first;
  }
  if (p.Pending.size() < count) p.Pending.resize(count);
  std::memcpy(p.Pending.data(), src, count);
  return true;
}

bool TFlacStream::Finish(std::string& msg) {
  using namespace detail;
  TFlacParts& p = *Parts_;
  if (!p.Encoder) return true;
  p.Enqueue(p.Pending.data(), p.Pending.size());
  p.Pending.clear();
  p.StopEncoding();
  const bool encoded = !p.EncodeFailed;
  const bool finished = FLAC__stream_encoder_finish(p.Encoder);
  if (p.WriteFailed) {
    msg = Message(MsgWrite);
    return false;
  }
  if (!encoded || !finished) {
    msg = Message(kEncodeError);
    return false;
  }
  return true;
}

namespace detail {

bool OpenFlac(TWavRecord& rec) {
  TFlacStream::TShape shape;
  int failure = MsgCannotReadFormat;
  rec.Flac = TFlacStream::OpenDecoder(*rec.Handle, shape, failure);
  if (!rec.Flac) return Fail(rec, static_cast<TWavMsg>(failure));
  const unsigned bytesPerSample = (shape.BitsPerSample + 7) / 8;
  rec.Container = TContainer::Flac;
  rec.Format = PlainFormat(static_cast<uint16_t>(shape.Channels), shape.SampleRate, bytesPerSample, false);
  rec.Format.wBitsPerSample = static_cast<uint16_t>(shape.BitsPerSample);
  rec.BytesPerSample = static_cast<uint8_t>(bytesPerSample);
  rec.DataCut = shape.Truncated;
  if (shape.Frames > MaxFrames) return Fail(rec, MsgUnsupportedFormat);
  rec.NumFrames = static_cast<uint32_t>(shape.Frames);
  rec.DataSize = uint64_t{rec.NumFrames} * rec.Format.nBlockAlign;
  return true;
}

bool CreateFlac(TWavRecord& rec, TWavRecord& in) {
  rec.Container = TContainer::Flac;
  rec.Flac = in.Flac ? TFlacStream::OpenEncoder(*rec.Handle, *in.Flac) : nullptr;
  return rec.Flac != nullptr;
}

}  // namespace detail

}  // namespace klarwell
