// SPDX-License-Identifier: GPL-3.0-or-later
// The emulated-USB suite needs the umockdev preload library; started without it, the
// program starts itself again under umockdev-wrapper.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
    // The wrapper runs through env, so the program is named by its real path.
    static char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
      std::perror("cannot find this program");
      return 1;
    }
    self[n] = '\0';
    std::vector<char*> args;
    args.push_back(const_cast<char*>(TARVIX_UMOCKDEV_WRAPPER));
    args.push_back(self);
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    ::execv(TARVIX_UMOCKDEV_WRAPPER, args.data());
    std::perror("cannot start " TARVIX_UMOCKDEV_WRAPPER);
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
