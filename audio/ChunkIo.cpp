#include "audio/ChunkIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <mutex>
#include <set>
#include <utility>

namespace klarwell {

namespace detail {
namespace {

// Every file this process has open for reading, by (device, inode), counted, and every file it has
// open for writing. A path says nothing about identity (symbolic links, hard links, "./", ".."), the
// inode does. Guarded by the mutex, which is also held across an output's open, check and truncation
// so that nothing can be registered between the check and the truncation.
std::mutex registryMutex;
std::multiset<std::pair<uint64_t, uint64_t>> openInputs;
std::multiset<std::pair<uint64_t, uint64_t>> openOutputs;

// Chunks whose data starts with a four-character form type.
bool IsForm(uint32_t ckId) {
  return ckId == MakeFourCC('R', 'I', 'F', 'F') || ckId == MakeFourCC('L', 'I', 'S', 'T');
}

constexpr uint64_t MaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Opens without blocking (a FIFO would otherwise wait for a peer), then insists on a regular file:
// a device or pipe has no chunk layout and may never end. On failure errno tells why.
int OpenRegular(const std::string& fileName, int flags, struct stat& st) {
  int fd = ::open(fileName.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return -1;
  auto fail = [fd](int errorNumber) {
    ::close(fd);
    errno = errorNumber;
    return -1;
  };
  if (::fstat(fd, &st) != 0) return fail(errno);
  // A folder opens for reading without complaint; the user should hear what it is.
  if (S_ISDIR(st.st_mode)) return fail(EISDIR);
  if (!S_ISREG(st.st_mode)) return fail(0);
  int fl = ::fcntl(fd, F_GETFL);
  if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) return fail(errno);
  return fd;
}

}  // namespace
}  // namespace detail

TChunkFile::TChunkFile(int fd, bool writing, bool registered, uint64_t dev, uint64_t ino)
    : Fd_(fd), Writing_(writing), Registered_(registered), Dev_(dev), Ino_(ino) {}

TChunkFile::~TChunkFile() {
  if (Registered_) {
    std::lock_guard<std::mutex> lock(detail::registryMutex);
    auto& registry = Writing_ ? detail::openOutputs : detail::openInputs;
    auto it = registry.find({Dev_, Ino_});
    if (it != registry.end()) registry.erase(it);
  }
  if (Fd_ >= 0) ::close(Fd_);
}

std::unique_ptr<TChunkFile> TChunkFile::OpenForReading(const std::string& fileName, bool holds) {
  std::lock_guard<std::mutex> lock(detail::registryMutex);
  struct stat st {};
  int fd = detail::OpenRegular(fileName, O_RDONLY, st);
  if (fd < 0) return nullptr;
  uint64_t dev = static_cast<uint64_t>(st.st_dev), ino = static_cast<uint64_t>(st.st_ino);
  if (holds) detail::openInputs.insert({dev, ino});
  return std::unique_ptr<TChunkFile>(new TChunkFile(fd, false, holds, dev, ino));
}

std::unique_ptr<TChunkFile> TChunkFile::OpenForWriting(const std::string& fileName) {
  std::lock_guard<std::mutex> lock(detail::registryMutex);
  // Opened without O_TRUNC: whether the file may be emptied is known only once its inode is.
  struct stat st {};
  int fd = detail::OpenRegular(fileName, O_WRONLY | O_CREAT, st);
  if (fd < 0) return nullptr;
  const std::pair<uint64_t, uint64_t> id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  if (detail::openInputs.count(id) != 0 || detail::openOutputs.count(id) != 0) {
    ::close(fd);
    errno = 0;
    return nullptr;
  }
  if (::ftruncate(fd, 0) != 0) {
    const int reason = errno;
    ::close(fd);
    errno = reason;
    return nullptr;
  }
  detail::openOutputs.insert(id);
  return std::unique_ptr<TChunkFile>(new TChunkFile(fd, true, true, id.first, id.second));
}

bool TChunkFile::IsOpenInProcess(const std::string& fileName) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0) return false;
  const std::pair<uint64_t, uint64_t> id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  std::lock_guard<std::mutex> lock(detail::registryMutex);
  return detail::openInputs.count(id) != 0 || detail::openOutputs.count(id) != 0;
}

uint64_t TChunkFile::FileSize() const {
  struct stat st {};
  if (::fstat(Fd_, &st) != 0 || st.st_size < 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

bool TChunkFile::Truncate(uint64_t byteCount) {
  if (byteCount > detail::MaxOffset) return false;
  return ::ftruncate(Fd_, static_cast<off_t>(byteCount)) == 0;
}

bool TChunkFile::Seek(uint64_t position) {
  if (position > detail::MaxOffset) return false;
  Position_ = position;
  return true;
}

int64_t TChunkFile::Read(void* dest, uint64_t byteCount) {
  auto* out = static_cast<uint8_t*>(dest);
  uint64_t done = 0;
  while (done < byteCount) {
    if (Position_ > detail::MaxOffset - (byteCount - done)) {
      errno = EOVERFLOW;
      return -1;
    }
    size_t piece = static_cast<size_t>(std::min<uint64_t>(byteCount - done, 1u << 30));
    ssize_t n = ::pread(Fd_, out + done, piece, static_cast<off_t>(Position_));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;  // end of file
    done += static_cast<uint64_t>(n);
    Position_ += static_cast<uint64_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t TChunkFile::Write(const void* src, uint64_t byteCount) {
  const auto* in = static_cast<const uint8_t*>(src);
  uint64_t done = 0;
  while (done < byteCount) {
    if (Position_ > detail::MaxOffset - (byteCount - done)) {
      errno = EOVERFLOW;
      return -1;
    }
    size_t piece = static_cast<size_t>(std::min<uint64_t>(byteCount - done, 1u << 30));
    ssize_t n = ::pwrite(Fd_, in + done, piece, static_cast<off_t>(Position_));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) {
      errno = EIO;
      return -1;
    }
    done += static_cast<uint64_t>(n);
    Position_ += static_cast<uint64_t>(n);
  }
  return static_cast<int64_t>(done);
}

// Reads the 8-byte header at `at` (and a form type for "RIFF"/"LIST"); false unless it lies
// wholly before `limit`.
bool TChunkFile::ReadHeader(uint64_t at, uint64_t limit, TChunkInfo& chunk) {
  if (at > limit || limit - at < 8) return false;
  uint8_t header[12];
  if (!Seek(at) || Read(header, 8) != 8) return false;
  chunk.CkId = detail::Le32(header);
  chunk.CkSize = detail::Le32(header + 4);
  chunk.FccType = 0;
  chunk.DataOffset = at + 8;
  chunk.Flags = 0;
  if (detail::IsForm(chunk.CkId)) {
    if (limit - at >= 12 && Read(header + 8, 4) == 4) chunk.FccType = detail::Le32(header + 8);
    Seek(at + 8);
  }
  return true;
}

bool TChunkFile::Descend(TChunkInfo& chunk, const TChunkInfo* parent, TDescend how) {
  uint64_t limit = FileSize();
  if (parent != nullptr) limit = std::min<uint64_t>(limit, parent->DataOffset + parent->CkSize);
  uint64_t at = Position_;
  const TChunkInfo wanted = chunk;
  // Each step moves on by at least a header, and a chunk claiming more than remains stops the walk,
  // so the number of steps is bounded by what the file really holds.
  for (;;) {
    TChunkInfo found;
    if (!ReadHeader(at, limit, found)) return false;
    bool match = false;
    switch (how) {
      case TDescend::Any:
        match = true;
        break;
      case TDescend::FindChunk:
        match = found.CkId == wanted.CkId;
        break;
      case TDescend::FindRiff:
        match = found.CkId == MakeFourCC('R', 'I', 'F', 'F') && found.FccType == wanted.FccType;
        break;
    }
    if (match) {
      chunk = found;
      // A form's data begins with its type; what follows is its first sub-chunk.
      uint64_t dataStart = found.DataOffset + (detail::IsForm(found.CkId) ? 4 : 0);
      return Seek(dataStart);
    }
    uint64_t end = found.DataOffset + found.CkSize;
    if (end > limit) return false;
    at = end + (found.CkSize & 1u);
  }
}

bool TChunkFile::Ascend(TChunkInfo& chunk) {
  if ((chunk.Flags & ChunkDirty) != 0) {
    if (Position_ < chunk.DataOffset) return false;
    uint64_t size = Position_ - chunk.DataOffset;
    if (size > std::numeric_limits<uint32_t>::max()) return false;
    uint64_t end = Position_;
    uint8_t field[4];
    detail::PutLe32(field, static_cast<uint32_t>(size));
    if (!Seek(chunk.DataOffset - 4) || Write(field, 4) != 4 || !Seek(end)) return false;
    if ((size & 1u) != 0) {
      const uint8_t pad = 0;
      if (Write(&pad, 1) != 1) return false;
    }
    chunk.CkSize = static_cast<uint32_t>(size);
    chunk.Flags &= ~ChunkDirty;
    return true;
  }
  return Seek(chunk.DataOffset + chunk.CkSize + (chunk.CkSize & 1u));
}

bool TChunkFile::CreateChunk(TChunkInfo& chunk) {
  bool isForm = detail::IsForm(chunk.CkId);
  uint8_t header[12];
  detail::PutLe32(header, chunk.CkId);
  detail::PutLe32(header + 4, chunk.CkSize);
  detail::PutLe32(header + 8, chunk.FccType);
  uint64_t at = Position_;
  uint64_t length = isForm ? 12 : 8;
  if (Write(header, length) != static_cast<int64_t>(length)) return false;
  chunk.DataOffset = at + 8;
  chunk.Flags |= ChunkDirty;
  return true;
}

}  // namespace klarwell
