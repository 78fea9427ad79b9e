// Why a file could not be used, in words a user can act on: the core's texts are the
// program's own and stay generic ("file open failed!", "file error#1"); the tool adds
// the path and the reason on the line after them.
#pragma once

#include <filesystem>
#include <string>

namespace tarvix::cli {

// Why `path` cannot be opened for reading as a file; empty when it can.
[[nodiscard]] std::string WhyUnreadable(const std::filesystem::path& path);

// Why `path` cannot be created or written; empty when it can. Nothing is left behind.
[[nodiscard]] std::string WhyUnwritable(const std::filesystem::path& path);

// What is wrong with a firmware image (".tvx") file; empty when it passes the check.
[[nodiscard]] std::string TvxProblem(const std::filesystem::path& path);

}  // namespace tarvix::cli
