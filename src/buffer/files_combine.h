// SPDX-License-Identifier: GPL-3.0-or-later
// Files Combine (Tools menu): joins a list of files end to end into one new file in
// a chosen folder. Independent of the loaded image and of the chip. The dialog's
// state (save path, file name, input list) lives here; the window only shows it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

class Host;

inline constexpr std::string_view kCombineTitle = "Files combine";
inline constexpr std::string_view kCombineDefaultName = "combine.bin";
inline constexpr std::string_view kCombineAddFilter = "(*.bin;*.rom)|*.bin;*.rom||*.*||";
inline constexpr std::string_view kCombineAddExtension = ".bin";

inline constexpr std::string_view kCombineNoSavePath = "please set save path  ";
inline constexpr std::string_view kCombineNoFileName = "please input file name   ";
inline constexpr std::string_view kCombineOutputFailed = "combined file create failed!  ";
inline constexpr std::string_view kCombineOutputIsInput =
    "the combined file is one of the files to combine!  ";
inline constexpr std::string_view kCombineWriteFailed = "combined file write failed!  ";
inline constexpr std::string_view kCombineInputFailed = "file open failed  ";
inline constexpr std::string_view kCombineSucceeded = "files combine succeed  ";

enum class CombineOutcome : std::uint8_t {
  kNoSavePath,     // kCombineNoSavePath
  kNoFileName,     // kCombineNoFileName
  kOutputFailed,   // kCombineOutputFailed: the output cannot be created
  kOutputIsInput,  // kCombineOutputIsInput: creating it would destroy an input
  kInputFailed,    // kCombineInputFailed: an input cannot be opened or read
  kWriteFailed,    // kCombineWriteFailed: the output cannot be written (a full disk)
  kStopped,        // the caller stopped it (no box)
  kSucceeded,      // kCombineSucceeded
};

struct CombineResult {
  CombineOutcome outcome = CombineOutcome::kSucceeded;
  std::filesystem::path output;
  // Inputs copied whole before the end. A failed combine writes nothing: an existing
  // file of the output's name stays as it was.
  std::size_t inputs_copied = 0;
  std::uint64_t bytes_written = 0;
};

// The save path, "/" unless it already ends with one, the file name, and ".bin"
// when the name holds no ".".
[[nodiscard]] std::filesystem::path CombineOutputPath(std::string_view save_path,
                                                      std::string_view file_name);

// Joins `inputs` in order into the output and shows the outcome's box through `host`.
// A set `stop` ends it between two chunks, leaving nothing of the output behind.
[[nodiscard]] CombineResult CombineFiles(std::string_view save_path, std::string_view file_name,
                                         const std::vector<std::filesystem::path>& inputs,
                                         Host& host, const std::atomic<bool>* stop = nullptr);

// The "Files combine" dialog's state.
class FilesCombine {
 public:
  // The first save path; the window passes the user's home folder.
  explicit FilesCombine(std::string save_path = {}) : save_path_(std::move(save_path)) {}

  [[nodiscard]] const std::string& SavePath() const { return save_path_; }
  void SetSavePath(std::string path) { save_path_ = std::move(path); }
  [[nodiscard]] const std::string& FileName() const { return file_name_; }
  void SetFileName(std::string name) { file_name_ = std::move(name); }
  [[nodiscard]] const std::vector<std::filesystem::path>& Inputs() const { return inputs_; }

  // Appends the chosen files in the order given, duplicates included.
  void Add(const std::vector<std::filesystem::path>& files);
  // Removes the entries at the given list positions (any order; out-of-range ignored).
  void Delete(std::vector<std::size_t> positions);
  // OK: the dialog stays open afterwards, its contents unchanged.
  [[nodiscard]] CombineResult Combine(Host& host) const;

 private:
  std::string save_path_;
  std::string file_name_{kCombineDefaultName};
  std::vector<std::filesystem::path> inputs_;
};

}  // namespace tarvix
