// SPDX-License-Identifier: GPL-3.0-or-later
// A private base directory per test with the image buffer, hex page, change log and
// loader wired the way the window wires them, and small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "state/main_state.h"
#include "buffer/change_log.h"
#include "buffer/hex_page.h"
#include "buffer/image_buffer.h"
#include "buffer/load_save.h"
#include "device/recording_host.h"

namespace tarvix::testing_buffer {

namespace fs = std::filesystem;

inline std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadText(const fs::path& path) {
  auto bytes = ReadFile(path);
  return {bytes.begin(), bytes.end()};
}

// Bytes 0, 1, 2, ... wrapping at 256.
inline std::vector<std::uint8_t> Counting(std::size_t n, std::uint8_t start = 0) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(start + i);
  return v;
}

inline std::uint64_t Sum(const std::vector<std::uint8_t>& v) {
  std::uint64_t s = 0;
  for (auto b : v) s += b;
  return s;
}

class BufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    base_ = fs::temp_directory_path() /
            ("tarvix_buf_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::remove_all(base_);
    fs::create_directories(base_);
    state_.paths = Paths::FromBase(base_);
    state_.chip_capacity = 256;
    buffer_ = std::make_unique<ImageBuffer>(state_);
    page_ = std::make_unique<HexPage>(*buffer_, state_, host_);
    log_ = std::make_unique<ChangeLog>(ChangeLog::PathIn(base_));
    ASSERT_TRUE(log_->Prepare());
    files_ = std::make_unique<FileLoadSave>(*buffer_, *page_, *log_, host_);
    files_->SetChipNameSource([] { return std::string("W25Q80"); });
    files_->SetSavePathChooser([this]() -> std::optional<fs::path> { return save_choice_; });
  }
  void TearDown() override {
    files_.reset();
    log_.reset();
    page_.reset();
    buffer_.reset();
    std::error_code ec;
    fs::permissions(base_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(base_, ec);
  }

  fs::path MakeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    fs::path p = base_ / name;
    WriteFile(p, bytes);
    return p;
  }
  // Loads as Open does.
  void Open(const fs::path& path) { ASSERT_TRUE(files_->Load(path, true)); }
  std::string LogText() { return ReadText(log_->Path()); }
  void SetCapacity(std::uint32_t capacity) {
    state_.chip_capacity = capacity;
    buffer_->OnChipChanged();
  }
  static bool RunningAsRoot() { return ::geteuid() == 0; }

  fs::path base_;
  MainState state_;
  RecordingHost host_{&state_};
  std::unique_ptr<ImageBuffer> buffer_;
  std::unique_ptr<HexPage> page_;
  std::unique_ptr<ChangeLog> log_;
  std::unique_ptr<FileLoadSave> files_;
  std::optional<fs::path> save_choice_;
};

}  // namespace tarvix::testing_buffer
