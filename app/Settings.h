#pragma once

#include <array>
#include <string>

#include "text/LangText.h"

namespace klarwell {

// What the program remembers between sessions: the output settings, the widths of the seven
// list columns, the height of the main window and the folder where the add dialog or the folder
// picker was last used. Everything else (the list, the results, the window's position and width,
// the play mode, the volume) starts afresh.
struct TSettingsValues {
  std::string Suffix = " #kw2";
  std::string OutDir;
  bool Refine = false;  // the engine's refined mode
  std::array<int, 7> ColumnWidths = {115, 135, 88, 70, 54, 58, 63};
  int WindowHeight = 517;
  std::string LastFolder;  // empty until a dialog has been used
};

// The file name of the settings file.
inline constexpr const char* SettingsFileName = "klarwell.ini";

// Where the settings live: `klarwell.ini` beside the executable when such a file exists there
// (portable use), otherwise `klarwell.ini` in $XDG_CONFIG_HOME/klarwell/, with ~/.config as the
// default of $XDG_CONFIG_HOME. `executableDir` is the folder of the running program; `xdgConfigHome`
// and `home` are the environment's values (empty when unset). Touches the file system only to see
// whether the portable file exists.
std::string SettingsFilePath(const std::string& executableDir, const std::string& xdgConfigHome,
                             const std::string& home);

// SettingsFilePath with the process's environment.
std::string SettingsFilePathFromEnvironment(const std::string& executableDir);

// Applies the settings file at `path` to `values`, which hold the controls' current values on
// entry: a non-empty suffix replaces the suffix, the output directory is always taken (an empty
// one too), the last folder only when the file has one (files of earlier versions lack it), the
// refined mode as the file has it (off in files of earlier versions), and every integer key that is
// missing or not a valid integer (or outside a sane range) leaves its value as it was. A missing or
// unreadable file changes nothing.
void LoadSettings(const std::string& path, TSettingsValues& values);

// Writes the ten keys, the refined mode when it is on or the file already has it, and the last
// folder when there is one, into the file at `path`, keeping
// every other section and key it holds, and creating the file and its folder when needed. False
// with `errorText` set (the window's message "Unable to write to <path>" in the current language)
// when the file cannot be written.
bool SaveSettings(const std::string& path, const TSettingsValues& values, std::string& errorText);

// "In %s kann nicht geschrieben werden" / "Unable to write to %s".
extern const TTextPair SettingsWriteError;

}  // namespace klarwell
