#include "app/BatchDriver.h"

#include <sys/stat.h>

namespace klarwell {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool OutputSettingsUsable(const TOutputSettings& settings) {
  return DirectoryExists(settings.OutDir) || !Trim(settings.Suffix).empty();
}

std::string OutputFileName(const std::string& inputPath, const TOutputSettings& settings) {
  std::string result = inputPath;
  if (!Trim(settings.Suffix).empty()) {
    // The extension starts at the last '.' of the file name part, not of a folder name.
    size_t nameStart = result.find_last_of('/');
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    size_t dot = result.find_last_of('.');
    std::string extension = ".wav";
    if (dot != std::string::npos && dot >= nameStart) {
      // FLAC and AIFF outputs keep their input's extension, as typed; a WAV's becomes ".wav" as ever.
      const std::string own = result.substr(dot);
      const bool isWav =
          own.size() == 4 && (own[1] | 0x20) == 'w' && (own[2] | 0x20) == 'a' && (own[3] | 0x20) == 'v';
      if (IsAudioFileName(own) && !isWav) extension = own;
      result.erase(dot);
    }
    result += settings.Suffix + extension;
  }
  if (DirectoryExists(settings.OutDir)) {
    size_t slash = result.find_last_of('/');
    std::string name = slash == std::string::npos ? result : result.substr(slash + 1);
    result = settings.OutDir + "/" + name;
  }
  return result;
}

}  // namespace klarwell
