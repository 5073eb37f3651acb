#include "app/gui/Mutex.h"

#include <gtest/gtest.h>

#include <memory>

namespace klarwell {
namespace {

// A second instance must see the mutex taken, yet run; the lock must go with its owner.
TEST(Mutex, SecondHolderIsRefusedUntilTheFirstIsGone) {
  const std::string name = "KlarwellMuxTest" + std::to_string(getpid());
  auto first = std::make_unique<TMutex>();
  ASSERT_TRUE(first->Create(name));
  EXPECT_TRUE(first->WaitFor(0));
  EXPECT_TRUE(first->WaitFor(0));  // owning it already counts as signalled
  TMutex second;
  ASSERT_TRUE(second.Create(name));
  EXPECT_FALSE(second.WaitFor(0));
  EXPECT_FALSE(second.WaitFor(20));
  first.reset();
  EXPECT_TRUE(second.WaitFor(0));
  std::remove(TMutex::LockPath(name).c_str());
}

TEST(Mutex, UnusableLockPlaceGivesNoHandle) {
  TMutex mutex;
  EXPECT_FALSE(mutex.WaitFor(0));  // never created
  EXPECT_FALSE(mutex.Create("no/such/folder/name"));
}

}  // namespace
}  // namespace klarwell
