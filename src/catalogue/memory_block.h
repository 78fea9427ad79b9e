// SPDX-License-Identifier: GPL-3.0-or-later
// A bounds-tested heap block that holds the raw database bytes while they are
// unscrambled and parsed. Misuse is reported with a message box, never a crash.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace tarvix {

class MemoryBlock {
 public:
  // Receives the block's two error messages (title "警告", error icon).
  using Reporter = std::function<void(std::string_view message)>;

  static constexpr std::string_view kNotCreatedMessage = "内存尚未创建，请先申请内存！  ";
  static constexpr std::string_view kRangeMessage = "请求地址超出范围！  ";

  explicit MemoryBlock(Reporter reporter = {}) : reporter_(std::move(reporter)) {}
  ~MemoryBlock() { Release(); }
  MemoryBlock(const MemoryBlock&) = delete;
  MemoryBlock& operator=(const MemoryBlock&) = delete;

  // Allocates `count` bytes (zeroed); null on failure, leaving the block as it was.
  std::uint8_t* Create(std::uint32_t count);
  // 1 when stored, 0 (after a message) when not created or out of range.
  int SetByte(std::uint32_t position, std::uint8_t value);
  // The byte, or 0 after the not-created message (also for an out-of-range position).
  [[nodiscard]] std::uint8_t GetByte(std::uint32_t position);
  [[nodiscard]] std::uint8_t* Data();
  [[nodiscard]] std::uint32_t Size();
  void Release();
  [[nodiscard]] bool Created() const { return created_ == 1; }

 private:
  void Report(std::string_view message) const;

  std::uint32_t created_ = 0;
  std::uint8_t* data_ = nullptr;
  std::uint32_t size_ = 0;
  Reporter reporter_;
};

}  // namespace tarvix
