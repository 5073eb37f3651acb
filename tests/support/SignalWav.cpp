#include "tests/support/SignalWav.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "audio/WavFile.h"

namespace klarwell::test {

bool WriteSignalWav(const std::string& path, const TSignal& signal, int bytesPerSample, bool isFloat,
                    std::string* error) {
  TWavRecord out;
  out.Format.wFormatTag = isFloat ? WaveFormatIeeeFloat : WaveFormatPcm;
  out.Format.nChannels = static_cast<uint16_t>(signal.Channels.size());
  out.Format.nSamplesPerSec = static_cast<uint32_t>(signal.SampleRate);
  out.Format.nBlockAlign = static_cast<uint16_t>(bytesPerSample * signal.Channels.size());
  out.Format.nAvgBytesPerSec = out.Format.nSamplesPerSec * out.Format.nBlockAlign;
  out.Format.wBitsPerSample = static_cast<uint16_t>(8 * bytesPerSample);
  std::string msg;
  if (!CreateWav(path, out)) {
    if (error) *error = out.ErrorMsg;
    return false;
  }
  std::vector<uint8_t> bytes = EncodeFrames(signal, bytesPerSample, isFloat);
  if (!WriteWavData(out, bytes.data(), 0, static_cast<uint32_t>(bytes.size()), 0, msg)) {
    if (error) *error = msg;
    CloseWav(out);
    return false;
  }
  if (!CloseWav(out)) {
    if (error) *error = out.ErrorMsg;
    return false;
  }
  return true;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool OutputInProgress(const std::string& folder) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    if (entry.path().filename().string().front() == '.') return true;
  return false;
}

}  // namespace klarwell::test
