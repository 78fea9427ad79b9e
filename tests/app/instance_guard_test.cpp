#include "app/instance_guard.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvix {
namespace {

TEST(InstanceGuard, SecondHolderIsToldTheLockIsBusyUntilTheFirstLetsGo) {
  const std::string name = "tarvix-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
  {
    InstanceGuard first(name);
    ASSERT_TRUE(first.Held());
    EXPECT_FALSE(first.Busy());
    InstanceGuard second(name);
    EXPECT_TRUE(second.Busy());
    EXPECT_FALSE(second.Held());
    first.Release();
    InstanceGuard third(name);
    EXPECT_TRUE(third.Held());
  }
  // Released by destruction as well.
  InstanceGuard again(name);
  EXPECT_TRUE(again.Held());
}

TEST(InstanceGuard, NamesWithBlanksAndChineseCharactersWork) {
  InstanceGuard guard(InstanceGuard::kProgramLock);
  EXPECT_TRUE(guard.Held() || guard.Busy());
}

}  // namespace
}  // namespace tarvix
