// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/memory_block.h"

#include <new>

namespace tarvix {

std::uint8_t* MemoryBlock::Create(std::uint32_t count) {
  // A zero-byte file still gets a block, so the parse finds it created and empty.
  auto* data = new (std::nothrow) std::uint8_t[count == 0 ? 1 : count]();
  if (data == nullptr) return nullptr;
  data_ = data;
  size_ = count;
  created_ = 1;
  return data_;
}

int MemoryBlock::SetByte(std::uint32_t position, std::uint8_t value) {
  if (created_ != 1) {
    Report(kNotCreatedMessage);
    return 0;
  }
  if (position >= size_) {
    Report(kRangeMessage);
    return 0;
  }
  data_[position] = value;
  return 1;
}

std::uint8_t MemoryBlock::GetByte(std::uint32_t position) {
  if (created_ == 1 && position < size_) return data_[position];
  Report(kNotCreatedMessage);
  return 0;
}

std::uint8_t* MemoryBlock::Data() {
  if (created_ == 0) {
    Report(kNotCreatedMessage);
    return nullptr;
  }
  return data_;
}

std::uint32_t MemoryBlock::Size() {
  if (created_ == 0) {
    Report(kNotCreatedMessage);
    return 0;
  }
  return size_;
}

void MemoryBlock::Release() {
  if (created_ != 1) return;
  delete[] data_;
  data_ = nullptr;
  created_ = 0;
}

void MemoryBlock::Report(std::string_view message) const {
  if (reporter_) reporter_(message);
}

}  // namespace tarvix
