#include "tests/support/music/OggExcerpt.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace klarwell::test {

namespace fs = std::filesystem;

std::string MusicDir() {
  const std::string dir = "/usr/share/games/singularity/music";
  std::error_code ec;
  return fs::is_directory(dir, ec) ? dir : std::string();
}

std::vector<std::string> MusicFiles() {
  std::vector<std::string> files;
  const std::string dir = MusicDir();
  if (dir.empty()) return files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.is_regular_file() && entry.path().extension() == ".ogg") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool DecodeOggExcerpt(const std::string& path, double startSeconds, double seconds, TSignal& out,
                      std::string& error) {
  OggVorbis_File file;
  if (ov_fopen(path.c_str(), &file) != 0) {
    error = "cannot open " + path + " as Ogg Vorbis";
    return false;
  }
  struct TClose {
    OggVorbis_File& File;
    ~TClose() { ov_clear(&File); }
  } close{file};
  const vorbis_info* info = ov_info(&file, -1);
  if (info == nullptr || info->channels < 1) {
    error = "no stream in " + path;
    return false;
  }
  const int channels = std::min(info->channels, 2);
  const auto rate = static_cast<int>(info->rate);
  const auto first = static_cast<ogg_int64_t>(std::llround(startSeconds * rate));
  const auto frames = static_cast<int64_t>(std::llround(seconds * rate));
  if (ov_pcm_seek(&file, first) != 0) {
    error = "cannot seek in " + path;
    return false;
  }
  out.SampleRate = rate;
  out.Channels.assign(static_cast<size_t>(channels), TChannel());
  for (TChannel& ch : out.Channels) ch.reserve(static_cast<size_t>(frames));
  int section = 0;
  while (out.Frames() < frames) {
    float** pcm = nullptr;
    const long got = ov_read_float(
        &file, &pcm, static_cast<int>(std::min<int64_t>(4096, frames - out.Frames())), &section);
    if (got <= 0) {
      error = path + " ends before " + std::to_string(startSeconds + seconds) + " s";
      return false;
    }
    for (int c = 0; c < channels; ++c) {
      for (long i = 0; i < got; ++i) {
        out.Channels[static_cast<size_t>(c)].push_back(std::clamp(pcm[c][i], -1.0f, 1.0f) * 32767.0f);
      }
    }
  }
  return true;
}

}  // namespace klarwell::test
