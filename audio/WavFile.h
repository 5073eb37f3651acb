#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/ChunkIo.h"
#include "audio/FlacFile.h"

namespace klarwell {

constexpr uint16_t WaveFormatPcm = 1;
constexpr uint16_t WaveFormatIeeeFloat = 3;
constexpr uint16_t WaveFormatExtensible = 0xFFFE;

// The 40-byte wave format block, field by field (parsed and written explicitly little-endian).
struct TWaveFormat {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
  uint16_t wValidBitsPerSample = 0;
  uint32_t dwChannelMask = 0;
  uint8_t SubFormat[16] = {};
};

// How the samples are held on disk. The block interface (ReadWavData/WriteWavData) is the same for
// all: it moves raw little-endian frames as a WAV data chunk holds them, whatever the file stores.
enum class TContainer : uint8_t {
  Wav,   // RIFF WAVE
  Rf64,  // RF64 or BW64: a WAV whose sizes are in a "ds64" chunk
  Flac,  // FLAC stream, decoded on reading and encoded on writing
  Aiff,  // AIFF or AIFF-C: big-endian PCM (little-endian for "sowt"), or float
};

// The two accepted sub-formats of the extensible format.
extern const uint8_t SubFormatPcm[16];
extern const uint8_t SubFormatIeeeFloat[16];

// One open (or closed) WAV file. The caller owns it; the WAV functions fill and change it. Move-only;
// a record that is still open when it is destroyed is closed (and, when writing, finished) then.
struct TWavRecord {
  std::unique_ptr<TChunkFile> Handle;  // null when closed
  std::string ErrorMsg;                // message of the last failed open, create or close (<= 255 chars)
  int ErrorNumber = 0;                 // errno of the system call behind ErrorMsg; 0 when none failed
  TWaveFormat Format;
  uint8_t BytesPerSample = 0;  // nBlockAlign div nChannels
  uint8_t PcmSubFormat = 0;    // extensible only: 1 integer PCM, 0 IEEE float; 0 for other tags
  uint64_t DataOffset = 0;     // absolute file position of the first sample byte
  uint32_t NumFrames = 0;      // whole frames in the data chunk (or up to the end of a cut file)
  uint8_t Writing = 0;         // 1 for a file made by CreateWav
  TChunkInfo DataChunk;        // written files: the open data chunk
  TChunkInfo RiffChunk;        // written files: the open RIFF form
  uint64_t TailStart = 0;      // read files: header of the first chunk after the data; 0 if none
  uint64_t TailEnd = 0;        // read files: just after the last such chunk's data (its pad not counted)
  uint64_t DataSize = 0;       // read files: bytes of sample data present
  bool DataCut = false;        // read files: the data chunk (or stream) claims more than the file holds
  uint64_t HeadStart = 0;      // read files: just after the form type, where the first chunk may begin
  uint64_t FmtStart = 0;       // read files: header of the "fmt " chunk
  uint64_t FmtEnd = 0;         // read files: just after the "fmt " chunk and its pad byte

  TContainer Container = TContainer::Wav;
  uint32_t FormType = 0;              // RF64 and AIFF: the file's own magic ("RF64"/"BW64", "AIFF"/"AIFC")
  bool SwapBytes = false;             // samples stored big-endian (AIFF)
  bool SignedBytes = false;           // 8-bit samples stored signed (AIFF, FLAC), not offset by 128
  uint64_t FramesField = 0;           // AIFF: position of COMM's frame count; RF64: of the "ds64" data
  std::unique_ptr<TFlacStream> Flac;  // FLAC: the decoder (reading) or encoder (writing)

  TWavRecord() = default;
  ~TWavRecord();
  TWavRecord(TWavRecord&& other) noexcept;
  TWavRecord& operator=(TWavRecord&& other) noexcept;
  TWavRecord(const TWavRecord&) = delete;
  TWavRecord& operator=(const TWavRecord&) = delete;

  bool IsOpen() const { return Handle != nullptr; }
};

// Opens a file for reading and checks its format. Any previous content of `rec` is closed and
// cleared first. On failure the file is closed and the message is in rec.ErrorMsg. A data chunk that
// runs past the end of the file is taken as ending there (a cut recording still opens).
// While open, the file cannot be the output of CreateWav. Any thread; one record per thread.
bool OpenWav(const std::string& fileName, TWavRecord& rec);
// OpenWav for a look only (format, length, whether the file opens at all): the record does not hold
// the file against CreateWav, so a glance at an output never makes a road on another thread refuse it.
bool PeekWav(const std::string& fileName, TWavRecord& rec);

// Creates an output with rec.Format (set by the caller, usually copied from the input) and an open
// data chunk; DataOffset is 46, or 68 for the extensible format. Refused with "Create error", leaving
// the file untouched, when the file is open in this process as an input through OpenWav or as another
// record's output (same device and inode); an output stays registered until it is closed.
bool CreateWav(const std::string& fileName, TWavRecord& rec);

// Checks a name that a finished output is to take over later (the output itself being written under
// another name): refused with "Create error", as CreateWav would refuse it, when the name is open in
// this process through OpenWav or as a record's output, names a folder (EISDIR) or something else
// that is not a regular file, or is a file this process may not write (the system's reason). A name
// that names nothing is free. The message and reason go into `rec`, which is not otherwise touched.
bool OutputNameFree(const std::string& fileName, TWavRecord& rec);

// Gives `rec` the create message and `errorNumber`, for an output its host could not create before
// CreateWav was reached (say, a temporary file that could not be made).
void RefuseCreate(TWavRecord& rec, int errorNumber);

// As CreateWav, but the output's header also carries the chunks that the input (open, from OpenWav)
// holds before its data, all but "fmt " and "data", byte for byte and in the input's order; the
// output's own "fmt " takes the place the input's had among them, so DataOffset grows by what was
// copied. Only chunks the input still holds whole are copied (each with a zero pad byte after an odd
// size), in bounded pieces; one that cannot be copied ends the copy of its run of chunks without
// failing the create. The input stays open.
bool CreateWavWithHead(const std::string& fileName, TWavRecord& rec, TWavRecord& in);

// Finishes (when writing: data size and RIFF size patched, pad bytes) and closes. True also when the
// record was not open. A record that fails to finish is closed as well, with its message.
bool CloseWav(TWavRecord& rec);

// As CloseWav on the output, but first copies the input's trailing chunks (TailStart..TailEnd, as far
// as the input really holds them) behind the output's data chunk. A failing copy is silent: the output
// is then finished without them. The input stays open.
bool CloseWavWithTail(TWavRecord& out, TWavRecord& in);

// Reads `count` bytes of sample data at `position` bytes from DataOffset into `dest` (at least count
// bytes). False with a message in `msg` unless exactly count bytes were read; the record stays open.
// `errorNumber`, when given, receives the failing system call's errno (0 when none failed, e.g. the
// file ended early).
bool ReadWavData(const TWavRecord& rec, void* dest, uint64_t position, uint32_t count, std::string& msg,
                 int* errorNumber = nullptr);

// Writes `count` bytes from src + srcOffset at `position` bytes from DataOffset. False with a message
// in `msg` unless exactly count bytes were written; the record stays open. `errorNumber` as above.
bool WriteWavData(const TWavRecord& rec, const void* src, uint64_t position, uint32_t count,
                  uint32_t srcOffset, std::string& msg, int* errorNumber = nullptr);

// The JSON name of a record's container: "wav", "rf64", "flac" or "aiff".
const char* ContainerName(const TWavRecord& rec);

// Whether a file name carries an extension the readers take (".wav", ".flac", ".aif", ".aiff", in
// any case): the test a folder scan applies.
bool IsAudioFileName(const std::string& name);

// "rate/bytes per sample/kind" of an accepted file, e.g. "44100/2/PCM" or "96000/4/IEEE"; the kind
// of a FLAC file is "FLAC".
std::string WavFormatText(const TWavRecord& rec);
// Playing time, whole seconds rounded half to even, as SecondsToHMS gives it.
std::string WavDurationText(const TWavRecord& rec);
// Hours:minutes:seconds, each at least two digits (3725 -> "01:02:05", 360000 -> "100:00:00").
std::string SecondsToHMS(int32_t seconds);

}  // namespace klarwell
