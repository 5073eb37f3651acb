#include "app/Version.h"

namespace klarwell {

const char* const ProgramName = "Klarwell";
const char* const ProgramVersion = "2.70";

}  // namespace klarwell
