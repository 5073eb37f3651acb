#include "app/Settings.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/IniFile.h"

namespace klarwell {

const TTextPair SettingsWriteError = {"In %s kann nicht geschrieben werden", "Unable to write to %s"};

namespace {

const char* const ColumnKeys[7] = {"FName", "Status", "Format", "Length", "Clicks", "Dens", "ETA"};

// Values outside these ranges would make a column or the window unusable; such a value counts as
// invalid and the control keeps what it has.
constexpr int MaxColumnWidth = 4000;
constexpr int MinWindowHeight = 200;
constexpr int MaxWindowHeight = 8000;

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// Creates every missing folder of `dir` (like mkdir -p); true when it exists afterwards.
bool MakeDirectories(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash))) return false;
  return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string FormatWriteError(const std::string& path) {
  std::string text = Text(SettingsWriteError);
  size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, path);
  return text;
}

}  // namespace

std::string SettingsFilePath(const std::string& executableDir, const std::string& xdgConfigHome,
                             const std::string& home) {
  if (!executableDir.empty()) {
    std::string portable = JoinPath(executableDir, SettingsFileName);
    if (FileExists(portable)) return portable;
  }
  // A relative $XDG_CONFIG_HOME is invalid and to be ignored, as the base directory rules say.
  std::string configHome = (!xdgConfigHome.empty() && xdgConfigHome.front() == '/')
                               ? xdgConfigHome
                               : JoinPath(home.empty() ? "." : home, ".config");
  return JoinPath(JoinPath(configHome, "klarwell"), SettingsFileName);
}

std::string SettingsFilePathFromEnvironment(const std::string& executableDir) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  return SettingsFilePath(executableDir, xdg ? xdg : "", home ? home : "");
}

void LoadSettings(const std::string& path, TSettingsValues& values) {
  TIniFile ini;
  if (!ini.Load(path)) return;
  std::string suffix = ini.ReadString("Output", "Suffix", "");
  if (!suffix.empty()) values.Suffix = suffix;
  values.OutDir = ini.ReadString("Output", "Path", "");
  values.Refine = ini.ReadInteger("Output", "Refine", 0) == 1;  // files of earlier versions: off
  for (size_t i = 0; i < values.ColumnWidths.size(); ++i) {
    int width = ini.ReadInteger("Table", ColumnKeys[i], values.ColumnWidths[i]);
    if (width >= 0 && width <= MaxColumnWidth) values.ColumnWidths[i] = width;
  }
  int height = ini.ReadInteger("Window", "Height", values.WindowHeight);
  if (height >= MinWindowHeight && height <= MaxWindowHeight) values.WindowHeight = height;
  values.LastFolder = ini.ReadString("Window", "LastFolder", values.LastFolder);
}

bool SaveSettings(const std::string& path, const TSettingsValues& values, std::string& errorText) {
  TIniFile ini;
  ini.Load(path);
  // Quotes keep the blanks at either end of a text, which the reader would otherwise drop.
  ini.WriteString("Output", "Suffix", "\"" + values.Suffix + "\"");
  ini.WriteString("Output", "Path", "\"" + values.OutDir + "\"");
  // Off in a file that never had it on: the file stays as a first start has always written it.
  if (values.Refine || !ini.ReadString("Output", "Refine", "").empty())
    ini.WriteInteger("Output", "Refine", values.Refine ? 1 : 0);
  for (size_t i = 0; i < values.ColumnWidths.size(); ++i)
    ini.WriteInteger("Table", ColumnKeys[i], values.ColumnWidths[i]);
  ini.WriteInteger("Window", "Height", values.WindowHeight);
  // Nothing to remember before a dialog has been used: a first start writes the same file as ever.
  if (!values.LastFolder.empty()) ini.WriteString("Window", "LastFolder", "\"" + values.LastFolder + "\"");

  size_t slash = path.find_last_of('/');
  std::string reason;
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash))) {
    errorText = FormatWriteError(path);
    return false;
  }
  if (!ini.Save(path, reason)) {
    errorText = FormatWriteError(path);
    return false;
  }
  return true;
}

}  // namespace klarwell
