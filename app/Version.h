#pragma once

namespace klarwell {

// Program name and version as shown in the title bar and by --version.
extern const char* const ProgramName;
extern const char* const ProgramVersion;

}  // namespace klarwell
