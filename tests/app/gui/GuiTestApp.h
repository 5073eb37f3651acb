#pragma once

namespace klarwell {
class TMainFrm;
}

namespace klarwell::test {

// Makes the one QApplication of a window test program (off-screen platform unless one is set).
void EnsureGuiApp();

// Lets events run until `window` has no batch running: a batch goes on a thread of its own and its
// reports reach the window as events. Fails the test when the batch takes over two minutes.
void WaitWhileRunning(const TMainFrm& window);

}  // namespace klarwell::test
