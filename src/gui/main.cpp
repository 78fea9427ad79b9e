// SPDX-License-Identifier: GPL-3.0-or-later
// tarvix: the programmer's window. Finds database.dat, the settings file and the
// sound files in the current directory; --simulate runs it on the simulated programmer.
#include <cstdio>
#include <exception>

#include "gui/window_program.h"

int main(int argc, char** argv) try {
  return tarvix::gui::RunWindowProgram(argc, argv);
} catch (const std::exception& e) {
  // Whatever slipped through is said in words, never as an abort.
  std::fprintf(stderr, "tarvix: %s\n", e.what());
  return 1;
} catch (...) {
  std::fputs("tarvix: an unexpected error ended the program\n", stderr);
  return 1;
}
