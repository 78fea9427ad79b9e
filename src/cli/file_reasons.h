// SPDX-License-Identifier: GPL-3.0-or-later
// Why a file could not be used, in words a user can act on: the core's texts are the
// program's own and stay generic ("file open failed!", "file error#1"); the tool adds
// the path and the reason on the line after them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::cli {

// Why `path` cannot be opened for reading as a file; empty when it can.
[[nodiscard]] std::string WhyUnreadable(const std::filesystem::path& path);

// Why `path` cannot be created or written; empty when it can. Nothing is left behind.
[[nodiscard]] std::string WhyUnwritable(const std::filesystem::path& path);

// A file a command names: `option` is the option that named it ("--trace"), empty for
// a command's own argument.
struct NamedFile {
  std::string option;
  std::filesystem::path path;
};

// The check every command makes of its files before it reads or writes any: an input
// that is there must be a regular file, and so must an output that is there; no output
// may be the same file as an input or another output, by any spelling or link (writing
// it would destroy the other). Missing inputs are left to the command, which says so in
// its own words. Prints each refusal (naming the path and what it is) and returns false
// when there is one.
[[nodiscard]] bool CheckNamedFiles(const std::vector<NamedFile>& inputs,
                                   const std::vector<NamedFile>& outputs);

// Reads a whole input file of at most `largest` bytes (what no valid `what` exceeds);
// a larger one is refused before it is read. False after saying why, naming the path.
[[nodiscard]] bool ReadWholeInput(const std::filesystem::path& path, std::uint64_t largest,
                                  std::string_view what, std::vector<std::uint8_t>* out);

// What is wrong with a firmware image (".tvx") file; empty when it passes the check.
[[nodiscard]] std::string TvxProblem(const std::filesystem::path& path);

}  // namespace tarvix::cli
