#pragma once

namespace klarwell::test {

// Makes the one QApplication of a window test program (off-screen platform unless one is set).
void EnsureGuiApp();

}  // namespace klarwell::test
