// SPDX-License-Identifier: GPL-3.0-or-later
// The `tarvix` program itself, started as a user starts it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "gui/window_fixture.h"

namespace tarvix::gui::testing {
namespace {

// No display server, or one that does not answer: one line and exit status 1, not
// the platform's abort.
TEST(WindowProgram, WithoutADisplayItSaysSoInOneLineAndExits1) {
  ScratchFolder dir;
  const std::filesystem::path err = dir.path() / "stderr";
  for (const std::string display : {"", ":31999"}) {
    std::string command =
        "cd '" + dir.path().string() + "' && env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
    command += display.empty() ? "-u DISPLAY" : "DISPLAY=" + display;
    command += " '" TARVIX_GUI_BINARY "' --simulate >/dev/null 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << display;
    EXPECT_EQ(WEXITSTATUS(status), 1) << display;
    std::ifstream in(err);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_EQ(text.rfind("tarvix: no display found", 0), 0u) << text;
  }
}

}  // namespace
}  // namespace tarvix::gui::testing
