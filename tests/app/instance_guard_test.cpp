// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/instance_guard.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarvix {
namespace {

TEST(InstanceGuard, SecondHolderIsToldTheLockIsBusyUntilTheFirstLetsGo) {
  const std::string name =
      "tarvix-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
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

// The locks live in a folder of the test's own, so a copy of the program running on
// this machine cannot make the outcome "busy" instead of "held".
class PrivateLockFolder : public ::testing::Test {
 protected:
  PrivateLockFolder() {
    folder_ =
        std::filesystem::temp_directory_path() / ("tarvix-locks-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) old_ = old;
    ::setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  }
  ~PrivateLockFolder() override {
    if (old_.empty()) {
      ::unsetenv("XDG_RUNTIME_DIR");
    } else {
      ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
    }
    std::filesystem::remove_all(folder_);
  }
  std::filesystem::path folder_;
  std::string old_;
};

TEST_F(PrivateLockFolder, NamesWithBlanksAndChineseCharactersWork) {
  EXPECT_EQ(InstanceGuard::LockDirectory(), folder_.string());
  for (const std::string_view name : {InstanceGuard::kProgramLock, InstanceGuard::kSiblingLock}) {
    InstanceGuard guard(name);
    ASSERT_TRUE(guard.Held()) << name;
    EXPECT_FALSE(guard.Busy());
    // The lock file carries the whole name, blanks and Chinese characters included.
    EXPECT_TRUE(std::filesystem::exists(folder_ / (std::string(name) + ".lock"))) << name;
    InstanceGuard second(name);
    EXPECT_TRUE(second.Busy()) << name;
    EXPECT_FALSE(second.Held());
  }
}

TEST_F(PrivateLockFolder, AnUnusableLockFolderNeitherHoldsNorBlocks) {
  ::setenv("XDG_RUNTIME_DIR", (folder_ / "missing").c_str(), 1);
  InstanceGuard guard(InstanceGuard::kProgramLock);
  EXPECT_FALSE(guard.Held());
  EXPECT_FALSE(guard.Busy());
}

}  // namespace
}  // namespace tarvix
