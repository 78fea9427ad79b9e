// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the real tarvix-cli binary and captures what it prints.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tarvix::testing {

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs tarvix-cli with `args` in directory `cwd` (stdin from /dev/null).
inline CliResult RunCli(const std::vector<std::string>& args,
                        const std::filesystem::path& cwd = std::filesystem::current_path()) {
  static int counter = 0;
  const auto base = std::filesystem::temp_directory_path() /
                    ("tarvix_cli_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
  const std::string out_path = base.string() + ".out", err_path = base.string() + ".err";
  std::string command = "cd '" + cwd.string() + "' && '" + std::string(TARVIX_CLI) + "'";
  for (const auto& a : args) {
    std::string quoted;
    for (char c : a) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += " '" + quoted + "'";
  }
  command += " </dev/null >'" + out_path + "' 2>'" + err_path + "'";
  CliResult r;
  const int raw = std::system(command.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  auto slurp = [](const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  r.out = slurp(out_path);
  r.err = slurp(err_path);
  std::filesystem::remove(out_path);
  std::filesystem::remove(err_path);
  return r;
}

}  // namespace tarvix::testing
