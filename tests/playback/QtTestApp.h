#pragma once

namespace klarwell::test {

// The one QApplication of a playback test binary (off-screen platform unless one is set), made on
// first use.
void EnsureQtApp();

}  // namespace klarwell::test
