#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace klarwell {

// A four-character code, first character in the lowest byte ("RIFF" reads as 'R' | 'I' << 8 | ...).
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

// One chunk as found or created. Offsets are 64-bit so that files beyond 2 GiB are reachable.
struct TChunkInfo {
  uint32_t CkId = 0;        // four-character id
  uint32_t CkSize = 0;      // size of the chunk's data (without header and pad byte)
  uint32_t FccType = 0;     // form type, RIFF chunks only
  uint64_t DataOffset = 0;  // file position of the first byte after the 8-byte header
  uint32_t Flags = 0;       // ChunkDirty for a chunk created for writing
};

constexpr uint32_t ChunkDirty = 1;

// How a descent searches.
enum class TDescend {
  Any,        // enter the next chunk, whatever its id
  FindChunk,  // the next chunk whose id is the given chunk's CkId
  FindRiff,   // the next "RIFF" chunk whose form type is the given chunk's FccType
};

// A file opened for chunk-wise reading or writing over a POSIX file descriptor. Not thread-safe: one
// owner at a time. Reads and writes start at the current position, which only this object moves.
//
// Sizes read from the file never drive an allocation or an unbounded loop: every chunk walk advances
// by at least one header per step and stops at the end of the file or of the parent chunk.
class TChunkFile {
 public:
  ~TChunkFile();
  TChunkFile(const TChunkFile&) = delete;
  TChunkFile& operator=(const TChunkFile&) = delete;

  // Opens an existing regular file for reading (others may go on reading it). While the object lives,
  // the file is registered as an open input, so that OpenForWriting refuses it. Null on failure, with
  // errno the system's reason (EISDIR for a folder; 0 for another kind of file that is not regular).
  // With `holds` false the file is not registered: a look at a file (its format, whether it opens)
  // must not refuse, for that moment, a writer on another thread.
  static std::unique_ptr<TChunkFile> OpenForReading(const std::string& fileName, bool holds = true);
  // Creates or truncates a file for writing only. Null on failure, and also when the file is one that
  // some TChunkFile of this process has open, for reading or for writing (same device and inode,
  // whatever the path): such a file is left untouched. While the object lives, the file is registered
  // as an open output. On failure errno is the system's reason, 0 for that refusal.
  static std::unique_ptr<TChunkFile> OpenForWriting(const std::string& fileName);
  // True when the existing file is one that some TChunkFile of this process has open, for reading or
  // for writing (the files OpenForWriting refuses). False for a name that names nothing.
  static bool IsOpenInProcess(const std::string& fileName);

  // Descends into a chunk, searching from the current position. With a parent, the search stays
  // inside the parent's data; without one, it runs to the end of the file. A chunk that is skipped
  // while searching must lie wholly inside the parent (or the file): one that claims more bytes than
  // remain ends the walk. On success `chunk` is filled, the position is at the chunk's data and the
  // result is true. The found chunk's own size is taken as it stands (its reader decides what to do
  // with a size that runs past the end).
  bool Descend(TChunkInfo& chunk, const TChunkInfo* parent, TDescend how);
  // Leaves a chunk: moves past its data and pad byte. For a chunk created by CreateChunk, first
  // patches its size field from the current position and writes a zero pad byte when that size is
  // odd. False when the size does not fit 32 bits or a seek or write fails.
  bool Ascend(TChunkInfo& chunk);
  // Writes a chunk header (id, size field, and the form type for a "RIFF" chunk) at the current
  // position; records the data offset and marks the chunk dirty.
  bool CreateChunk(TChunkInfo& chunk);

  // Bytes moved (fewer at the end of the file), or -1 on error with errno set. Interrupted calls are
  // resumed.
  int64_t Read(void* dest, uint64_t byteCount);
  int64_t Write(const void* src, uint64_t byteCount);
  // Absolute positioning from the start of the file; false on failure.
  bool Seek(uint64_t position);
  uint64_t Position() const { return Position_; }
  // Current size of the file in bytes (0 when it cannot be told).
  uint64_t FileSize() const;
  // Cuts the file at `byteCount` (used to take back a partly written piece); false on failure.
  bool Truncate(uint64_t byteCount);

 private:
  explicit TChunkFile(int fd, bool writing, bool registered, uint64_t dev, uint64_t ino);
  bool ReadHeader(uint64_t at, uint64_t limit, TChunkInfo& chunk);

  int Fd_ = -1;
  uint64_t Position_ = 0;
  bool Writing_ = false;     // registered as an open output, else as an open input
  bool Registered_ = false;  // in one of the two registries at all
  uint64_t Dev_ = 0, Ino_ = 0;
};

}  // namespace klarwell
